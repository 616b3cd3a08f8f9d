#include "run/worker_protocol.h"

#include <cstring>

#include "run/posix_io.h"

namespace zeverive::cli {

bool send_message(int fd, const Message& message, std::string_view text) {
    uint8_t record[kRecordBytes] = {static_cast<uint8_t>(message.kind), message.slot,
                                    static_cast<uint8_t>(message.keep_host ? 1 : 0),
                                    static_cast<uint8_t>(message.scan)};
    const uint32_t text_bytes = static_cast<uint32_t>(text.size());
    std::memcpy(record + 4, &text_bytes, sizeof text_bytes);
    return write_all(fd, record, sizeof record) && write_all(fd, text.data(), text.size());
}

std::optional<Received> receive_message(int fd) {
    uint8_t record[kRecordBytes];
    if (!read_all(fd, record, sizeof record)) return std::nullopt;
    if (record[0] < static_cast<uint8_t>(MessageKind::kReady) || record[0] > static_cast<uint8_t>(MessageKind::kSettings) ||
        record[3] > static_cast<uint8_t>(luma::Scan::kBottomFieldFirst))
        return std::nullopt;
    const auto scan = static_cast<luma::Scan>(record[3]);
    Received received{{static_cast<MessageKind>(record[0]), record[1], record[2] != 0, scan, 0}, {}};
    std::memcpy(&received.message.text_bytes, record + 4, sizeof received.message.text_bytes);
    if (received.message.text_bytes > kMaxMessageText) return std::nullopt;
    received.text.resize(received.message.text_bytes);
    if (!read_all(fd, received.text.data(), received.text.size())) return std::nullopt;
    return received;
}

}  // namespace zeverive::cli
