#pragma once

class QCoreApplication;
class TConfigData;

// morvandle-check --sign-in: signs the account of `config` in on the console (the device
// sign-in's address and code, or the browser sign-in's address, to open elsewhere), waits for
// it, and says where the refresh token went. Returns the exit status: 0 signed in, 1 not.
int RunSignIn(QCoreApplication& app, const TConfigData& config);
