// A machine's /sys and /proc as the kernel lays them out, written under a folder that the
// GPU counter library takes for "/" (ZARMITE_DRM_ROOT): GPUs behind their cards, firmware
// framebuffers, connectors, and processes whose descriptors are DRM clients.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <utility>

// A gpu_metrics table of `size` bytes with its header, all ones elsewhere (nothing filled)
// but the fields set.
inline std::string MetricsTable(uint16_t size, uint8_t format, uint8_t content,
                                const std::map<uint32_t, std::pair<uint32_t, uint64_t>>& fields) {
    std::string bytes(size, '\xff');
    bytes[0] = static_cast<char>(size & 0xff);
    bytes[1] = static_cast<char>(size >> 8);
    bytes[2] = static_cast<char>(format);
    bytes[3] = static_cast<char>(content);
    for (const auto& field : fields)
        for (uint32_t i = 0; i < field.second.first; ++i)
            if (field.first + i < bytes.size())  // a table cut short holds less
                bytes[field.first + i] = static_cast<char>(field.second.second >> (8 * i));
    return bytes;
}

class FakeMachine {
public:
    explicit FakeMachine(const std::string& root) : root_(root) {
        Write("sys/class/drm/version", "drm 1.1.0 20060810\n");
        std::filesystem::create_directories(root_ + "/sys/class/drm/ttm");
        Write("usr/share/misc/pci.ids",
              "# a part of the list\n1002  Advanced Micro Devices, Inc. [AMD/ATI]\n"
              "\t73bf  Navi 21 [Radeon RX 6800/6800 XT / 6900 XT]\n\t\t1002 0e3a  Radeon RX 6900 "
              "XT\n\t1681  Rembrandt [Radeon 680M]\n8086  Intel Corporation\n\t46a6  Alder "
              "Lake-P GT2 [Iris Xe Graphics]\n\t56a0  DG2 [Arc A770]\nC 00  Unclassified "
              "device\n\t73bf  not a device\n");
    }

    // A GPU at PCI `address` behind card `card` and its render node, with `files` under
    // its device folder ("hwmon/hwmon2/temp1_input"; "drm/cardN/..." for the card's own).
    // The device folder's path under the root.
    std::string Gpu(int card, const std::string& address, const std::string& vendor,
                    const std::string& device, const std::string& driver,
                    const std::map<std::string, std::string>& files) {
        const std::string folder = "sys/devices/pci0000:00/" + address;
        Write(folder + "/vendor", vendor + "\n");
        Write(folder + "/device", device + "\n");
        Write(folder + "/uevent", "DRIVER=" + driver + "\nPCI_SLOT_NAME=" + address + "\n");
        Link(folder + "/driver", "../../../bus/pci/drivers/" + driver);
        for (const char* node : {"card", "renderD"}) {
            const std::string name = node + std::to_string(node[0] == 'c' ? card : 128 + card);
            std::filesystem::create_directories(root_ + "/" + folder + "/drm/" + name);
            Link(folder + "/drm/" + name + "/device", "../../../" + address);
            Link("sys/class/drm/" + name, "../../devices/pci0000:00/" + address + "/drm/" + name);
        }
        const std::string connector = "card" + std::to_string(card) + "-DP-1";
        std::filesystem::create_directories(root_ + "/" + folder + "/drm/card" +
                                            std::to_string(card) + "/" + connector);
        Link("sys/class/drm/" + connector, "../../devices/pci0000:00/" + address + "/drm/card" +
                                               std::to_string(card) + "/" + connector);
        for (const auto& file : files) Write(folder + "/" + file.first, file.second);
        return folder;
    }

    // A firmware framebuffer's card: no PCI device behind it.
    void Framebuffer(int card) {
        const std::string folder = "sys/devices/platform/simple-framebuffer.0";
        const std::string name = "card" + std::to_string(card);
        Write(folder + "/uevent", "DRIVER=simple-framebuffer\n");
        std::filesystem::create_directories(root_ + "/" + folder + "/drm/" + name);
        Link(folder + "/drm/" + name + "/device", "../../../simple-framebuffer.0");
        Link("sys/class/drm/" + name, "../../devices/platform/simple-framebuffer.0/drm/" + name);
    }

    // Descriptor `fd` of process `pid`, open on /dev/dri/`node` with this fdinfo, beside a
    // descriptor that is no DRM device.
    void Client(int pid, int fd, const std::string& node, const std::string& fdinfo) {
        const std::string process = "proc/" + std::to_string(pid);
        std::filesystem::create_directories(root_ + "/" + process + "/fd");
        Link(process + "/fd/0", "/dev/null");
        Write(process + "/fdinfo/0", "pos:\t0\nflags:\t02\n");
        Link(process + "/fd/" + std::to_string(fd), "/dev/dri/" + node);
        Write(process + "/fdinfo/" + std::to_string(fd), fdinfo);
    }

    // Replaces a file in one step, as the kernel's files change for a reader.
    void Write(const std::string& path, const std::string& text) {
        const std::filesystem::path file = root_ + "/" + path;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file.string() + ".new", std::ios::binary) << text;
        std::filesystem::rename(file.string() + ".new", file);
    }
    // A file whose reads never end while no one writes it: a sensor stuck in the kernel.
    void Fifo(const std::string& path) {
        std::filesystem::remove(root_ + "/" + path);
        mkfifo((root_ + "/" + path).c_str(), 0600);
    }
    void Remove(const std::string& path) { std::filesystem::remove_all(root_ + "/" + path); }

    // Makes `path` a link to `target`, in place of what was there.
    void Link(const std::string& path, const std::string& target) {
        std::filesystem::create_directories(
            std::filesystem::path(root_ + "/" + path).parent_path());
        std::filesystem::remove(root_ + "/" + path);
        std::filesystem::create_symlink(target, root_ + "/" + path);
    }

private:
    std::string root_;
};
