// Model names from the system's PCI ID list (pci.ids: a vendor line "1002  Name", then its
// devices, each "\t73bf  Name").
#pragma once

#include <cstdint>
#include <string>

// The name of device `device` of vendor `vendor` in the list at `path`, printable and at
// most 100 bytes; "" where the list or the device is not there.
std::string pci_model_name(const std::string& path, uint32_t vendor, uint32_t device);
