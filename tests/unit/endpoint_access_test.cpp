// The endpoint's access rules: the web configuration as it is read, basic
// authentication's verdicts, and the caps on connections.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "basic_auth.h"
#include "connection_caps.h"
#include "temp_dir.h"
#include "web_config.h"

namespace {

// bcrypt of "secret" at cost 4.
const char kHash[] = "$2b$04$NK7qlLPH0CkqcZw3olmMCO9l.SKQjSGKG2jxYOafjTeeouWZtqOFe";

// A certificate whose validity ended on 2 January 2020.
const char kExpiredCertificate[] =
    "-----BEGIN CERTIFICATE-----\n"
    "MIIBCzCBsgIBATAKBggqhkjOPQQDAjASMRAwDgYDVQQDDAdleHBpcmVkMB4XDTIw\n"
    "MDEwMTAwMDAwMFoXDTIwMDEwMjAwMDAwMFowEjEQMA4GA1UEAwwHZXhwaXJlZDBZ\n"
    "MBMGByqGSM49AgEGCCqGSM49AwEHA0IABLWuZw/6o1xHDwVC8JEsYIu4s8sMNdel\n"
    "HsdgIHB0e7ji4bGe7EiZzf59WzMRFMStz0/ODT0Sc8Ggoo7Csy3j7KcwCgYIKoZI\n"
    "zj0EAwIDSAAwRQIhAPAOOK/UgWr/Toyokwg+G2xsI23+iwmWu5YT+pERSmFUAiBp\n"
    "/ZavJmg0LQgDcMCq9qlI97g36tKQxt0JgIC2NQVLmg==\n"
    "-----END CERTIFICATE-----\n";

std::string Basic(const std::string& credentials) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out = "Basic ";
    for (size_t i = 0; i < credentials.size(); i += 3) {
        unsigned bits = static_cast<unsigned char>(credentials[i]) << 16;
        if (i + 1 < credentials.size()) bits |= static_cast<unsigned char>(credentials[i + 1]) << 8;
        if (i + 2 < credentials.size()) bits |= static_cast<unsigned char>(credentials[i + 2]);
        out += kDigits[(bits >> 18) & 63];
        out += kDigits[(bits >> 12) & 63];
        out += i + 1 < credentials.size() ? kDigits[(bits >> 6) & 63] : '=';
        out += i + 2 < credentials.size() ? kDigits[bits & 63] : '=';
    }
    return out;
}

TEST(WebConfig, ReadsEverySupportedKeyAndWarnsOfAnExpiredCertificateAndAnOpenKey) {
    TempDir dir;
    dir.Write("server.crt", kExpiredCertificate);
    chmod(dir.Write("server.key", "key").c_str(), 0644);
    dir.Write("ca.crt", "ca");
    const std::string path = dir.Write(
        "web.yml", std::string("tls_server_config:\n  cert_file: server.crt\n  key_file: "
                               "server.key\n  client_auth_type: RequireAndVerifyClientCert\n"
                               "  client_ca_file: ca.crt\n  min_version: TLS13\n"
                               "http_server_config:\n  headers:\n    X-Frame-Options: deny\n"
                               "basic_auth_users:\n  alice: ") +
                       kHash + "\n");
    WebConfig config;
    std::string error;
    ASSERT_TRUE(ReadWebConfig(path, &config, &error)) << error;
    EXPECT_EQ(config.key, "key");
    EXPECT_EQ(config.clientCa, "ca");
    EXPECT_EQ(config.clientAuth, ClientAuth::kRequireAndVerify);
    EXPECT_EQ(config.tlsPriorities, "NORMAL:-VERS-ALL:+VERS-TLS1.3");
    ASSERT_EQ(config.headers.size(), 1u);
    EXPECT_EQ(config.headers[0].second, "deny");
    EXPECT_EQ(config.users.at("alice"), kHash);
    ASSERT_EQ(config.warnings.size(), 2u);
    EXPECT_NE(config.warnings[0].find("has expired"), std::string::npos) << config.warnings[0];
    EXPECT_NE(config.warnings[1].find("read by every user"), std::string::npos);
}

TEST(WebConfig, RefusesWhatCouldNotProtectAsAsked) {
    TempDir dir;
    dir.Write("a.crt", "cert");
    dir.Write("a.key", "key");
    const std::string big(kMaxWebFileBytes + 1, 'x');
    dir.Write("big.key", big);
    const std::string tls = "tls_server_config:\n  cert_file: a.crt\n  key_file: a.key\n";
    const std::string salt(53, 'N');
    const struct {
        std::string text;
        const char* error;
    } cases[] = {
        {"basic_auth_users:\n  alice: $2y$10$...\n", "not a bcrypt hash"},
        {"basic_auth_users:\n  alice: $2b$32$" + salt + "\n", "not a bcrypt hash"},
        {"basic_auth_users:\n  alice: $2b$13$" + salt + "\n",
         "the hash's cost is 13, above the 12"},
        {"basic_auth_users:\n  alice: $2y$14$" + salt + "\n", "cost is 14, above the 12 this host"},
        {"basic_auth_users:\n  alice: $2x$10$" + salt + "\n", "not a bcrypt hash"},
        {std::string("basic_auth_users:\n  alice: ") + kHash + "\n  alice: " + kHash + "\n",
         "alice is given twice"},
        {std::string("basic_auth_users:\n  a:b: ") + kHash + "\n", "holds ':'"},
        {"basic_auth_users: {}\n---\nbasic_auth_users: {}\n", "more than one YAML document"},
        {tls + "tls_server_config: {}\n", "tls_server_config is given twice"},
        {"tls_server_config:\n  cert_file: /dev/zero\n  key_file: a.key\n", "regular file"},
        {"tls_server_config:\n  cert_file: a.crt\n  key_file: big.key\n", "larger than"},
        {"tls_server_config:\n  cert_file: a.crt\n", "needs both"},
        {tls + "  client_auth_type: RequireAndVerifyClientCert\n", "needs client_ca_file"},
        {tls + "  client_ca_file: a.crt\n", "client_ca_file needs"},
        {tls + "  client_auth_type: Maybe\n", "none of NoClientCert"},
        {tls + "  min_version: TLS13\n  max_version: TLS12\n", "min_version is above"},
        {tls + "  max_version: SSL3\n", "none of TLS10"},
        {tls + "  cipher_suites: [x]\n", "unknown key cipher_suites"},
        {"http_server_config:\n  headers:\n    Content-Type: x\n", "one the server sets"},
        {"http_server_config:\n  headers:\n    \"X-A\": \"a\\nb\"\n", "control characters"},
        {"http_server_config:\n  http2: true\n", "unknown key http2"},
        {"basic_auth_users: [", "end of"},
        // Texts that the YAML library reads as empty documents for ever.
        {", ]\n", "more than one YAML document"},
        {"&\x7f\x7f&,\x7f", "more than one YAML document"},
        {"a: b\n--- ,\n", "more than one YAML document"},
        {"\"a\\nb\\x1b[31m\": 1\n", "unknown key a\\x0ab\\x1b[31m"},
        // Settings of the wrong shape, names and hashes not quite right.
        {"- a\n", "is not a map of settings"},
        {"tls_server_config: [1]\n", "tls_server_config is not a map"},
        {"http_server_config: 5\n", "http_server_config is not a map"},
        {"http_server_config:\n  headers: [a]\n", "headers is not a map"},
        {"http_server_config:\n  headers:\n    \"X A\": b\n", "X A"},
        {"http_server_config:\n  headers:\n    " + std::string(101, 'X') + ": b\n", "XXXX"},
        {"basic_auth_users: x\n", "basic_auth_users is not a map"},
        {std::string("basic_auth_users:\n  \"\": ") + kHash + "\n", "basic_auth_users"},
        {"basic_auth_users:\n  alice: $2b$03$" + salt + "\n", "not a bcrypt hash"},
        {"basic_auth_users:\n  alice: $2b$10$" + salt.substr(1) + "!\n", "not a bcrypt hash"},
        {tls + "  client_auth_type: VerifyClientCertIfGiven\n", "needs client_ca_file"},
    };
    for (const auto& test : cases) {
        WebConfig config;
        std::string error;
        EXPECT_FALSE(ReadWebConfig(dir.Write("web.yml", test.text), &config, &error)) << test.text;
        EXPECT_NE(error.find(test.error), std::string::npos) << test.text << "\n" << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << "one line: " << error;
    }
}

TEST(BasicAuth, CredentialsAreDecodedWhole) {
    std::string user, password;
    ASSERT_TRUE(DecodeBasicAuthorization(Basic("alice:se:cret").c_str(), &user, &password));
    EXPECT_EQ(user, "alice");
    EXPECT_EQ(password, "se:cret");
    ASSERT_TRUE(
        DecodeBasicAuthorization(Basic(std::string("a:x\0y", 5)).c_str(), &user, &password));
    EXPECT_EQ(password, std::string("x\0y", 3)) << "a NUL is part of the password";
    for (const char* bad : {"Bearer abc", "Basic !!!!", "Basic YWxpY2U=", "Basic YQ=b", ""})
        EXPECT_FALSE(DecodeBasicAuthorization(bad, &user, &password)) << bad;
    EXPECT_FALSE(DecodeBasicAuthorization(nullptr, &user, &password));
}

TEST(BasicAuth, VerdictsAndWhatCostsAPasswordCheck) {
    BasicAuth auth({{"alice", kHash}}, 1);
    EXPECT_EQ(auth.Check(Basic("alice:secret").c_str()), AuthVerdict::kGood);
    for (const std::string& wrong :
         {std::string("alice:wrong"), std::string("alice:secret\0junk", 17),
          std::string("bob:secret"), std::string("alice:")})
        EXPECT_EQ(auth.Check(Basic(wrong).c_str()), AuthVerdict::kBad) << wrong;
    EXPECT_EQ(auth.Check(nullptr), AuthVerdict::kBad);
    // Once stopped no check can start: credentials found right before are still let in
    // (they cost no check), while a wrong password and an unknown user both needed one.
    auth.Stop();
    EXPECT_EQ(auth.Check(Basic("alice:secret").c_str()), AuthVerdict::kGood);
    EXPECT_EQ(auth.Check(Basic("alice:wrong").c_str()), AuthVerdict::kBusy);
    EXPECT_EQ(auth.Check(Basic("bob:secret").c_str()), AuthVerdict::kBusy)
        << "an unknown name costs what a wrong password does";
    EXPECT_EQ(BasicAuth({}, 1).Check(nullptr), AuthVerdict::kGood) << "no users: no auth";
}

TEST(ConnectionCaps, BeyondACapARequestIsRefusedAndBeyondTwiceAConnection) {
    ConnectionCaps caps(4, 2);  // 4 in all, 2 from one address
    int connections[12];
    // A connection and its first request.
    const auto start = [&](int n, const char* address) {
        if (!caps.MayAccept(address)) return "closed";
        caps.Started(&connections[n], address);
        return caps.RequestArrived(&connections[n]) ? "served" : "refused";
    };
    const struct {
        int connection;
        const char* address;
        const char* expected;
    } steps[] = {
        {0, "a", "served"},  {1, "a", "served"}, {2, "a", "refused"}, {3, "a", "refused"},
        {4, "a", "closed"},  {5, "b", "served"}, {6, "c", "served"},  {7, "d", "refused"},
        {8, "d", "refused"}, {9, "e", "closed"}, {10, "f", "closed"},
    };
    for (const auto& step : steps)
        EXPECT_STREQ(start(step.connection, step.address), step.expected) << step.connection;
    EXPECT_EQ(caps.Refused(), 7u);
    // A connection answered (idle, or closing) leaves its place at once; it is served
    // again with its next request.
    caps.Answered(&connections[0]);
    caps.Closed(&connections[2]);  // one waiting for its 503
    EXPECT_STREQ(start(11, "a"), "served");
    caps.RequestArrived(&connections[0]);
    caps.Closed(&connections[0]);
    caps.Closed(&connections[0]);  // once only
    caps.Closed(&connections[5]);
    EXPECT_STREQ(start(4, "a"), "refused") << "both of a's places are taken";
    EXPECT_STREQ(start(10, "b"), "served");
    EXPECT_EQ(caps.Refused(), 8u);
    // A connection that starts while the last one is still being answered is judged again
    // when its request comes: by then that one has let its place go.
    ConnectionCaps later(4, 1);
    later.Started(&connections[0], "a");
    EXPECT_TRUE(later.RequestArrived(&connections[0]));
    later.Started(&connections[1], "a");
    later.Answered(&connections[0]);
    EXPECT_TRUE(later.RequestArrived(&connections[1]));
    later.Started(&connections[2], "a");
    EXPECT_FALSE(later.RequestArrived(&connections[2])) << "a's one place is taken";
    later.Answered(&connections[1]);
    EXPECT_FALSE(later.RequestArrived(&connections[2])) << "a refused connection stays so";
}

}  // namespace
