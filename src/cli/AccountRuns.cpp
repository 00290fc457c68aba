#include "cli/AccountRuns.h"

#include "config/dataConfig.h"
#include "platform/ErrorReport.h"
#include "platform/Exception.h"
#include "platform/Paths.h"

#include <cstdio>

namespace {

std::string SettingsName() {
    return platform::FileNameOf(platform::SettingsFilePath());
}

// The accounts of the settings file; nothing, with the reason on stderr, for a bad name.
std::optional<std::vector<TAccountSettings>> AllAccounts() {
    try {
        return ReadAccounts();
    } catch (const platform::Exception& e) {
        std::fflush(stdout);
        std::fprintf(stderr, "%s\n", e.what());
        return std::nullopt;
    }
}

void NoSuchAccount(const std::string& name) {
    std::fflush(stdout);
    std::fprintf(stderr, "No account named \"%s\" in %s\n", name.c_str(), SettingsName().c_str());
}

} // namespace

std::optional<std::vector<TAccountSettings>> ChosenAccounts(const TCheckArgs& args) {
    std::optional<std::vector<TAccountSettings>> accounts = AllAccounts();
    if (!accounts) return std::nullopt;
    if (!args.account.empty()) {
        const TAccountSettings* named = FindAccount(*accounts, args.account);
        if (!named) {
            NoSuchAccount(args.account);
            return std::nullopt;
        }
        return std::vector<TAccountSettings>{*named};
    }
    if (!args.allAccounts) accounts->resize(1);
    std::erase_if(*accounts,
                  [&args](const TAccountSettings& a) { return args.allAccounts && !a.Enabled; });
    if (accounts->empty()) {
        std::fprintf(stderr, "No account is enabled in %s\n", SettingsName().c_str());
        return std::nullopt;
    }
    return accounts;
}

int WorseStatus(int a, int b) {
    const auto rank = [](int status) { return status == 1 ? 2 : status == 0 ? 0 : 1; };
    return rank(a) >= rank(b) ? a : b;
}

int CheckAccounts(const std::vector<TAccountSettings>& accounts,
                  const std::function<int()>& checkOne, const bool& stopped) {
    int worst = 0;
    for (const TAccountSettings& account : accounts) {
        if (stopped) break;
        ConfigData->UseAccount(account);
        int status = 1; // stays so when something nobody expected stops this check
        platform::Guarded([&] { status = checkOne(); });
        worst = WorseStatus(worst, status);
    }
    return worst;
}

bool UseNamedAccount(const std::string& name) {
    if (name.empty()) return true;
    const std::optional<std::vector<TAccountSettings>> accounts = AllAccounts();
    if (!accounts) return false;
    const TAccountSettings* named = FindAccount(*accounts, name);
    if (!named) {
        NoSuchAccount(name);
        return false;
    }
    ConfigData->UseAccount(*named);
    return true;
}

int ListAccounts() {
    const std::optional<std::vector<TAccountSettings>> accounts = AllAccounts();
    if (!accounts) return 1;
    for (const TAccountSettings& a : *accounts)
        std::printf("%s\t%s@%s%s\n", a.AccountName.c_str(), a.Login.c_str(), a.Server.c_str(),
                    a.Enabled ? "" : "\tdisabled");
    return 0;
}
