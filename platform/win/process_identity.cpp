#include <windows.h>
// After windows.h, which it needs.
#include <sddl.h>

#include <map>
#include <mutex>
#include <string>

#include "gpu_counters.h"
#include "wide_text.h"

namespace {

// Accounts by SID, named once: a lookup may ask a domain controller.
struct AccountNames {
    std::mutex lock;  // held only between system calls
    std::map<std::wstring, std::string> bySid;
};

AccountNames& Accounts() {
    static AccountNames* names = new AccountNames;  // a worker may use it at exit
    return *names;
}

std::string AccountOf(PSID sid) {
    LPWSTR text = nullptr;
    if (!ConvertSidToStringSidW(sid, &text)) return "";
    const std::wstring key = text;
    LocalFree(text);
    AccountNames& names = Accounts();
    {
        std::lock_guard<std::mutex> guard(names.lock);
        const auto known = names.bySid.find(key);
        if (known != names.bySid.end()) return known->second;
    }
    wchar_t name[256], domain[256];
    DWORD nameSize = 256, domainSize = 256;
    SID_NAME_USE use;
    std::string account = utf8_from_wide(key);
    if (LookupAccountSidW(nullptr, sid, name, &nameSize, domain, &domainSize, &use)) {
        name[255] = domain[255] = L'\0';
        account = utf8_from_wide(std::wstring(domain) + L"\\" + name);
    }
    std::lock_guard<std::mutex> guard(names.lock);
    names.bySid[key] = account;
    return account;
}

std::string UserOf(HANDLE process) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return "";
    std::string user;
    union {
        TOKEN_USER user;
        unsigned char bytes[256];
    } info;
    DWORD size = 0;
    if (GetTokenInformation(token, TokenUser, &info, sizeof info, &size))
        user = AccountOf(info.user.User.Sid);
    CloseHandle(token);
    return user;
}

}  // namespace

bool plat_process_identity(uint32_t pid, std::string* name, std::string* user, uint64_t* created) {
    name->clear();
    user->clear();
    *created = 0;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) return false;
    wchar_t path[1024];
    DWORD size = 1024;
    if (QueryFullProcessImageNameW(process, 0, path, &size) && size < 1024) {
        const std::wstring image(path, size);
        const size_t slash = image.find_last_of(L"\\/");
        *name = utf8_from_wide(slash == std::wstring::npos ? image : image.substr(slash + 1));
    }
    FILETIME creation, exit, kernel, userTime;
    if (GetProcessTimes(process, &creation, &exit, &kernel, &userTime))
        *created = (static_cast<uint64_t>(creation.dwHighDateTime) << 32) | creation.dwLowDateTime;
    *user = UserOf(process);
    CloseHandle(process);
    return true;
}
