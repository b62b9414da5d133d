// Fuzzes the received-header parser and the camera name-list splitter: the first 32 bytes are a
// header, the rest a LIST_REPLY payload. Checks the split block's shape and reads every item.
#include "device/Messages.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size >= kevra::MessageHeader::kSize) {
        std::vector<uint8_t> header(data, data + kevra::MessageHeader::kSize);
        kevra::ReplyHeader reply;
        kevra::parseReplyHeader(header.data(), reply);
        // A second parse into the same header must replace, not leak, the login info.
        kevra::parseReplyHeader(header.data(), reply);
        if (reply.command != header[0])
            __builtin_trap();
        if (reply.loginInfo && reply.command != 0xB0)
            __builtin_trap();
        data += kevra::MessageHeader::kSize;
        size -= kevra::MessageHeader::kSize;
    }
    std::vector<uint8_t> payload(data, data + size);
    std::vector<uint8_t> block;
    const int count = kevra::splitNameList(payload.empty() ? nullptr : payload.data(),
                                           static_cast<int>(payload.size()), block);
    if (count < 0)
        __builtin_trap();
    if (payload.empty()) {
        if (count != 0 || !block.empty())
            __builtin_trap();
        return 0;
    }
    if (block.size() != payload.size() + 1 || block.back() != 0)
        __builtin_trap();
    // Never more items than separators plus one.
    if (count > static_cast<int>(payload.size()) / 2 + 1)
        __builtin_trap();
    std::vector<uint8_t> exact(block);   // exact-size copy so a read past it is caught
    const auto items = kevra::nameListItems(exact.data(), static_cast<int>(exact.size()), count);
    size_t total = 0;
    for (const auto& item : items)
        total += item.size();
    if (total > payload.size())
        __builtin_trap();
    // Asking for more items than the block holds must stay inside the block too.
    kevra::nameListItems(exact.data(), static_cast<int>(exact.size()), count + 3);
    return 0;
}
