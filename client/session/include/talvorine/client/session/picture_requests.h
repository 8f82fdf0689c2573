#pragma once
// Users' pictures on the account connection: one picture per connection, uploaded (own
// pictures, with the account's password) or downloaded (anyone's). The picture's bytes travel
// unframed after the reply. Connection and time-out failures throw AccountRequestError with the
// socket error text; a download the server refuses is an answer, not an error.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "talvorine/client/session/account_requests.h"

namespace talvorine::client::session {

// Pictures travel through a buffer of this size, so a picture is at most one byte less.
inline constexpr std::size_t PictureBufferSize = 32768;
inline constexpr std::string_view PictureSizeErrorText = "File size error";

// Request 1: the picture of `slot` (0 Normal, 1 Away, 2 N/A). Throws AccountRequestError with
// the server's refusal or the socket error text. Returns once the server has closed the
// connection, that is after it stored the bytes.
void UploadPicture(const AccountServer& server, std::string_view userId, std::string_view password,
                   int slot, std::span<const std::uint8_t> bytes);

struct DownloadedPicture {
    std::vector<std::uint8_t> bytes;
    std::string refusal;  // the server's text or PictureSizeErrorText; bytes empty then
    bool Ok() const { return refusal.empty(); }
};

// Request 2: the picture of `slot` of user `userId`.
DownloadedPicture DownloadPicture(const AccountServer& server, std::string_view userId, int slot);

}  // namespace talvorine::client::session
