#include "ValidAddressAdd.h"

#include "config/SortedListModel.h"
#include "config/dataConfig.h"

std::string AddValidAddress(const std::string& address) {
    if (address.empty()) return "The message names no sender address";
    // Another program may write the file between the read and the save: then read it again.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const TListFileContent read = ReadListFile(AddressListPath());
        TSortedListModel list;
        list.Fill(read.entries);
        if (list.Contains(address)) return address + " is already a valid address";
        list.Add(address);
        if (SaveListFile(AddressListPath(), list.Entries(), read.fingerprint)) {
            LoadAddressList();
            return address + " added to the valid addresses";
        }
    }
    return "GoodAddr.txt keeps changing - " + address + " not added";
}
