#include "common/destination_names.h"

#include "common/text_helpers.h"

namespace vardel::destination {

namespace {

std::string numbered(const char* fmt, int64_t cycle, int64_t sequence) {
    return strprintf(fmt, static_cast<long long>(cycle), static_cast<long long>(sequence));
}

}  // namespace

std::string instance_key(int64_t cycle, int64_t sequence) {
    return numbered("BACKUPINSTANCE_%lld_%lld", cycle, sequence);
}

std::string check_value_key(int64_t cycle, int64_t sequence) {
    return numbered("CHECKVALUE_%lld_%lld", cycle, sequence);
}

std::string saf_archive(int64_t cycle, int64_t sequence) {
    return numbered("B%lld_%lld.SAF", cycle, sequence);
}

std::string zip_archive(int64_t cycle, int64_t sequence) {
    return numbered("B%lld_%lld.ZIP", cycle, sequence);
}

std::string files_folder(int64_t cycle, int64_t sequence) {
    return numbered("B%lld_%lld", cycle, sequence);
}

std::string list_file(int64_t cycle, int64_t sequence) {
    return numbered("L%lld_%lld.TXT", cycle, sequence);
}

}  // namespace vardel::destination
