#include "talvorine/client/ui/directory/directory_rules.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "talvorine/client/data/accounts.h"
#include "talvorine/client/session/user_directory.h"
#include "talvorine/client/ui/icons/user_pictures.h"
#include "talvorine/platform/text.h"

namespace talvorine::client::ui::directory {

int ConditionFieldLimit(SearchCategory category) {
    switch (category) {
        case SearchCategory::Id:
            return 8;
        case SearchCategory::Nickname:
            return 32;
        case SearchCategory::Email:
            return 255;
    }
    return 8;
}

bool NeedsEmptyConditionQuestion(const SearchCondition& condition) {
    return condition.text.empty();
}

protocol::SearchRequest BuildSearchRequest(const SearchCondition& condition) {
    std::size_t limit = 255;
    if (condition.category == SearchCategory::Id) {
        limit = 8;
    } else if (condition.category == SearchCategory::Nickname) {
        limit = 64;
    }
    protocol::SearchRequest request;
    request.field = static_cast<std::uint8_t>(condition.category);
    request.match = condition.exact ? 1 : 0;
    request.text = std::string(platform::CutUtf8(condition.text, limit));
    return request;
}

AddVerdict JudgeUser(std::string_view userId, std::string_view ownId, bool alreadyListed) {
    if (userId == ownId) {
        return AddVerdict::Yourself;
    }
    return alreadyListed ? AddVerdict::AlreadyListed : AddVerdict::Add;
}

AddOutcome AddChosenUsers(const std::vector<protocol::SearchRow>& rows, std::string_view ownId,
                          const AddUserPorts& ports) {
    std::string listed;
    for (const protocol::SearchRow& row : rows) {
        switch (JudgeUser(row.userId, ownId, ports.isListed(row.userId))) {
            case AddVerdict::Yourself:
                ports.showYourself();
                continue;
            case AddVerdict::AlreadyListed:
                listed += "\r\n" + row.nickname + " (" + row.userId + ")";
                continue;
            case AddVerdict::Add:
                break;
        }
        for (;;) {
            const auto failure = ports.add(row);
            if (!failure) {
                ports.added(row);
                break;
            }
            const FailureAnswer answer = ports.askAfterFailure(
                FormatText(Text::AddFailed, {row.nickname, row.userId, *failure}));
            if (answer == FailureAnswer::Abort) {
                return AddOutcome::Aborted;
            }
            if (answer == FailureAnswer::Ignore) {
                break;
            }
        }
    }
    if (!listed.empty()) {
        ports.showAlreadyListed(std::string(Text::AlreadyListed) + listed);
    }
    return AddOutcome::Done;
}

std::optional<std::string> DownloadNewContactPictures(const session::AccountServer& server,
                                                      std::string_view accountId,
                                                      std::string_view contactId) {
    // Pictures the server does not have, or whose files cannot be made, are not reported while
    // users are added; only a download that had to stop is.
    const icons::PictureDownload download =
        icons::DownloadUserPictures(server, accountId, contactId, {});
    if (!download.fatal.empty()) {
        return download.fatal;
    }
    return std::nullopt;
}

std::optional<std::string> NicknameToSave(std::string_view typed) {
    constexpr std::string_view blanks = " \t\r\n\v\f";
    const auto first = typed.find_first_not_of(blanks);
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    const auto last = typed.find_last_not_of(blanks);
    return std::string(typed.substr(first, last - first + 1));
}

std::string PasswordForRecord(std::string_view typed) {
    return std::string(platform::CutUtf8(typed, protocol::Size::Password - 1));
}

protocol::UserProfile KeepLocalNickname(protocol::UserProfile fetched,
                                        std::string_view localNickname) {
    if (!localNickname.empty()) {
        fetched.nickname = std::string(localNickname);
    }
    return fetched;
}

}  // namespace talvorine::client::ui::directory
