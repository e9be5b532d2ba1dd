// Any account text either is refused with AccountError or gives an account that lists, deletes and writes
// itself back to the same text.
#include "sim/account.h"

#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);
    try {
        vestrel::Account account = vestrel::Account::from_json(text);
        std::string written = account.to_json();
        if (vestrel::Account::from_json(written).to_json() != written)
            std::abort();
        for (const std::string& dir : account.directory_paths()) {
            std::string out;
            std::uint32_t node = account.find(dir);
            if (node == vestrel::Account::none)
                std::abort();
            account.append_listing(out, node, vestrel::ListOrder::time, true, 1, 100);
            account.append_listing(out, node, vestrel::ListOrder::size, false, 2, 3);
            account.append_listing(out, node, vestrel::ListOrder::name, true, 1, 1000);
        }
        std::size_t files = account.file_count();
        std::vector<std::string> paths = account.file_paths();
        if (paths.size() != files)
            std::abort();
        if (!paths.empty()) {
            account.remove(account.find(paths.front()));
            if (account.file_count() != files - 1 || account.find(paths.front()) != vestrel::Account::none)
                std::abort();
        }
    } catch (const vestrel::AccountError&) {
    }
    return 0;
}
