#pragma once

#include <string>

namespace secrets {

// What TightenSettingsFile did about a settings file that holds a password.
struct TModeCheck {
    enum Kind { Private, Tightened, OthersCanRead } kind = Private;
    std::string text; // a line for the log (and, for OthersCanRead, the console)
};

// A settings file made by hand keeps the mode it was made with (often 0644). When it holds a
// password and others may read it, it is made private (0600); when it is not ours to change,
// the caller warns.
TModeCheck TightenSettingsFile();

} // namespace secrets
