#include "vardelremove/remove_program.h"

#include <signal.h>
#include <strings.h>
#include <unistd.h>

namespace vardel {

RemoveCommandLine RemoveCommandLine::parse(const std::vector<std::string>& args) {
    RemoveCommandLine c;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& into) {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                c.error = a + " needs a value";
                return;
            }
            into = args[++i];
        };
        if (::strcasecmp(a.c_str(), "-r") == 0)
            c.cleanup = true;
        else if (a == "--unattended")
            c.unattended = true;
        else if (a == "--now")
            c.now = true;
        else if (a == "--root")
            value(c.root);
        else if (a == "--user")
            value(c.user);
        else
            c.error = "unknown argument " + a;
        if (!c.error.empty()) return c;
    }
    if (!c.root.empty() && c.root[0] != '/') c.error = "--root needs a full path";
    if (c.now && !c.unattended) c.error = "--now goes with --unattended";
    return c;
}

Uninstaller::Options remove_options(const RemoveCommandLine& c) {
    Uninstaller::Options o{
        install::SystemPlaces(c.root), platform::invoking_user(), platform::ServiceManager(), {}};
    if (!c.user.empty())
        if (std::optional<platform::Account> a = platform::account_by_name(c.user)) o.user = *a;
    return o;
}

int run_cleanup(const RemoveCommandLine& c) {
    Uninstaller remover(remove_options(c), Uninstaller::Phase::Cleanup);
    if (remover.start()) return kStartFailed;
    remover.cleanup();
    return 0;
}

int run_unattended_removal(const RemoveCommandLine& c, std::FILE* out, std::FILE* err) {
    if (c.root.empty() && ::geteuid() != 0) {
        std::fprintf(err, "%s\n", kNeedsAdministratorToRemove);
        return kStartFailed;
    }
    ::signal(SIGPIPE, SIG_IGN);
    Uninstaller::Options options = remove_options(c);
    Uninstaller remover(options, Uninstaller::Phase::Interactive, [out](const std::string& text) {
        std::fputs(text.c_str(), out);
        std::fflush(out);
    });
    if (std::optional<std::string> stop = remover.start()) {
        std::fprintf(err, "%s\nUninstall failed.\n", stop->c_str());
        return kStartFailed;
    }
    if (!remover.uninstall()) {
        remover.log_message("Uninstall failed");
        std::fprintf(err, "\nUninstall failed\n");
        return kUninstallFailed;
    }
    if (!c.now) return 0;
    // What the restart would run, at once: Linux lets a running program's
    // folder go.
    Uninstaller cleaner(options, Uninstaller::Phase::Cleanup);
    if (cleaner.start()) return kStartFailed;
    cleaner.cleanup();
    std::fprintf(out, "Cleanup done; see %s\n", cleaner.log_path().c_str());
    return 0;
}

}  // namespace vardel
