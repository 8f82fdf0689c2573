#include "talvorine/client/ui/directory/directory_rules.h"

#include <cerrno>
#include <cstring>
#include <fstream>

#include "talvorine/client/data/accounts.h"
#include "talvorine/client/session/user_directory.h"
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

std::filesystem::path PictureFile(const std::filesystem::path& iconsFolder,
                                  std::string_view contactId, int slot) {
    return iconsFolder / (std::string(contactId) + "-" + std::to_string(slot + 1) + ".bmp");
}

std::optional<std::string> DownloadNewContactPictures(const session::AccountServer& server,
                                                      std::string_view accountId,
                                                      std::string_view contactId) {
    errno = 0;
    const auto account = data::AccountFolder(accountId);
    const std::filesystem::path icons = account ? *account / "Icons" : std::filesystem::path();
    if (!account || !data::EnsureFolder(icons)) {
        return std::string(Text::FailedToCreateDirectory) + std::strerror(errno != 0 ? errno : EIO);
    }
    try {
        for (int slot = 0; slot < protocol::Size::IconSlots; ++slot) {
            const auto picture = session::DownloadPicture(server, contactId, slot);
            if (!picture.ok) {
                continue;  // the server has none: the built-in picture stays
            }
            std::ofstream file(PictureFile(icons, contactId, slot),
                               std::ios::binary | std::ios::trunc);
            if (!file) {
                continue;  // a file that cannot be created is skipped like a missing picture
            }
            file.write(reinterpret_cast<const char*>(picture.bytes.data()),
                       static_cast<std::streamsize>(picture.bytes.size()));
            file.flush();
            if (!file) {
                return FormatText(Text::FailedToUpdate, {std::strerror(errno != 0 ? errno : EIO)});
            }
        }
    } catch (const session::AccountRequestError& e) {
        return FormatText(Text::FailedToUpdate, {e.what()});
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
