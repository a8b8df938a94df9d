#include "vardelsetup/setup_program.h"

#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include "common/my_error.h"
#include "common/suite_names.h"
#include "common/text_helpers.h"
#include "platform/system_info.h"
#include "vardelsetup/installer.h"
#include "vardelsetup/payload.h"
#include "vardelsetup/setup_state.h"

namespace vardel {

SetupCommandLine SetupCommandLine::parse(const std::vector<std::string>& args) {
    SetupCommandLine c;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                c.error = a + " needs a folder";
                return;
            }
            into = args[++i];
        };
        if (a == "--unattended")
            c.unattended = true;
        else if (a == "--user")
            c.per_user = true;
        else if (a == "--prefix")
            value(c.prefix);
        else if (a == "--data")
            value(c.data);
        else if (a == "--root")
            value(c.root);
        else
            c.error = "unknown argument " + a;
        if (!c.error.empty()) return c;
    }
    if (!c.root.empty() && c.root[0] != '/') c.error = "--root needs a full path";
    return c;
}

std::optional<std::string> setup_start_check(const install::SystemPlaces& places) {
    if (places.is_real()) {
        std::optional<std::string> system = platform::system_name();
        if (!system) return std::string("Couldn't get Os Version");
        if (*system != "Linux" || !platform::systemd_running())
            return std::string("Vardel requires a Linux system running systemd to operate");
        if (::geteuid() != 0) return std::string(kNeedsAdministrator);
    }
    if (::access(places.package_file_list().c_str(), F_OK) == 0)
        return strprintf(
            "Vardel is installed as the Debian package \"%s\" on this system. "
            "Upgrade or remove it with apt.",
            install::kPackageName);
    return std::nullopt;
}

std::string make_scratch_folder() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp == '/' ? tmp : "/tmp") + "/vardelsetup-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw MyError::format(OPERATION_FAILED, "Can't create a scratch folder %s: %s",
                              pattern.c_str(), system_error_text());
    return pattern;
}

int run_unattended(const SetupCommandLine& c, std::span<const unsigned char> payload,
                   std::FILE* out, std::FILE* err) {
    // A reader of the log that goes away must not end the install halfway.
    ::signal(SIGPIPE, SIG_IGN);
    install::SystemPlaces places(c.root);
    if (std::optional<std::string> stop = setup_start_check(places)) {
        std::fprintf(err, "%s\n", stop->c_str());
        return 1;
    }
    try {
        SetupState state = SetupState::from_store();
        std::string why = state.set_folders(c.prefix.empty() ? state.install_dir() : c.prefix,
                                            c.data.empty() ? state.data_dir() : c.data);
        if (!why.empty()) {
            std::fprintf(err, "%s\n", why.c_str());
            return 1;
        }
        state.set_per_user(c.per_user);
        std::fprintf(out, "Install Type: %s\nInstallation Directory: %s\nData Path: %s\n",
                     state.install_type().c_str(), state.install_dir().c_str(),
                     state.data_dir().c_str());
        std::fflush(out);

        std::string scratch = make_scratch_folder();
        PayloadUnpacker unpacker(payload, scratch);
        if (!unpacker.run()) {
            Installer::remove_scratch_files(scratch);
            std::fprintf(err, "Setup for Vardel Installation failed: %s\n",
                         unpacker.error().c_str());
            return 1;
        }
        Installer installer(
            {state, scratch, places, platform::invoking_user(), platform::ServiceManager()},
            [out](const std::string& text) {
                std::fputs(text.c_str(), out);
                std::fflush(out);
            });
        bool ok = installer.run();
        for (const std::string& command : installer.left_to_system())
            std::fprintf(out, "Left to the system: %s\n", command.c_str());
        if (!ok) {
            std::fprintf(err, "Install failed. See log file %s/%s for details\n", scratch.c_str(),
                         Installer::kLogFile);
            return 1;
        }
        return 0;
    } catch (const MyError& e) {
        std::fprintf(err, "%s\n", e.message());
        return 1;
    }
}

}  // namespace vardel
