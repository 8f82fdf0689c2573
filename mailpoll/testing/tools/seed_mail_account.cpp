// Writes one mail account into the poller's settings of the current user hive (set
// TALVORINE_REGISTRY_DIR to keep it private), for the pictures of its windows.
//   mailpoll_seed_account TITLE SERVER PORT ACCOUNT PASSWORD
#include <cstdio>
#include <string>

#include "talvorine/mailpoll/mail_store.h"

int main(int argc, char** argv) {
    if (argc != 6) {
        std::fprintf(stderr, "usage: %s TITLE SERVER PORT ACCOUNT PASSWORD\n", argv[0]);
        return 2;
    }
    using talvorine::mailpoll::MailAccount;
    const talvorine::mailpoll::MailStore store;
    auto accounts = store.LoadAccounts();
    accounts.push_back(MailAccount{argv[1], argv[2], argv[4], argv[5],
                                   static_cast<std::uint16_t>(std::stoi(argv[3])), 10});
    talvorine::mailpoll::PostSentrySettings settings = store.LoadSettings();
    settings.autoCheck = false;
    store.Save(settings, accounts);
    return 0;
}
