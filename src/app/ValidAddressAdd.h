#pragma once

#include <string>

// "Add sender to valid addresses": the address goes into GoodAddr.txt the way the preferences
// dialog saves the list (sorted ignoring letter case, written only over the file as it was
// read), and ConfigData's list is loaded again from the file. Returns the text to show.
// Throws platform::EInOutError when the file cannot be read or written.
std::string AddValidAddress(const std::string& address);
