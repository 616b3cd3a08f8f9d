// What the parent and a worker say to each other over their two pipes.
//
// Every message is one record of kRecordBytes, laid out byte by byte below;
// kCannotStart is followed by text, the reason, and kSettings by the
// settings' record, text_bytes long.
//   worker -> parent, once: kReady when its plug-in instance is set up, or
//     kCannotStart and why not;
//   parent -> worker: kSettings and a record of the settings for the
//     frames that follow (forked_workers.cpp writes and reads it);
//   parent -> worker: kProcess, a slot, whether the frame's host frame
//     goes to the shared area for the parent to see, and the frame's scan;
//   worker -> parent: kDone and the slot, once the slot's result is there.
// The parent ends a worker by closing the pipe it sends jobs on.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "luma/frame_pictures.h"

namespace zeverive::cli {

enum class MessageKind : uint8_t { kReady = 1, kCannotStart, kProcess, kDone, kSettings };

struct Message {
    MessageKind kind;
    uint8_t slot = 0;
    bool keep_host = false;
    luma::Scan scan = luma::Scan::kProgressive;
    uint32_t text_bytes = 0;
};

// Byte 0 the kind, 1 the slot, 2 keep_host (0 or 1), 3 the scan, 4..7
// text_bytes in the machine's byte order (both ends are one program).
constexpr size_t kRecordBytes = 8;
// A longer reason is not read: the parent reports that the worker could
// not start, without it.
constexpr uint32_t kMaxMessageText = 4095;

// False when the other end has gone; other errors throw IoError.
bool send_message(int fd, const Message& message, std::string_view text = {});

struct Received {
    Message message;
    std::string text;
};

// The next message; nullopt when the other end has gone or the message is
// not one of the above. Errors throw IoError.
std::optional<Received> receive_message(int fd);

}  // namespace zeverive::cli
