// Where an extracted item goes, for any stored path and base directory: a
// name from a backup must never lead outside the target folder, so every
// component of the plan is a plain name (no "", ".", ".." or "/").
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "vardelrestore/extractor.h"

namespace {

void check(const vardel::TargetPlan& plan) {
    if (plan.kind != vardel::TargetPlan::Write) return;
    auto plain = [](const std::string& part) {
        if (part.empty() || part == "." || part == ".." || part.find('/') != std::string::npos ||
            part.find('\0') != std::string::npos)
            std::abort();
    };
    for (const std::string& f : plan.folders) plain(f);
    plain(plan.name);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view in(reinterpret_cast<const char*>(data), size);
    // The first line is the base directory, the rest the stored path.
    size_t nl = in.find('\n');
    vardel::ExtractOptions options;
    std::string_view path = in;
    if (nl != std::string_view::npos) {
        options.base_directory = std::string(in.substr(0, nl));
        path = in.substr(nl + 1);
    }
    for (bool ignore : {true, false}) {
        options.ignore_other_files = ignore;
        check(vardel::plan_target(path, options));
    }
    return 0;
}
