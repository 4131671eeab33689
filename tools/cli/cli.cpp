#include "cli.h"

#include <cstdio>

namespace cli {

const char* Version() { return TRM27K_VERSION; }

void SetUp(CLI::App& app) {
    app.set_help_flag("-h,--help", "print this help and exit");
    app.set_version_flag("--version", std::string(app.get_name()) + " " + Version(),
                         "print the version and exit");
}

Outcome Parse(CLI::App& app, int argc, const char* const* argv) {
    try {
        app.parse(argc, argv);
        return {};
    } catch (const CLI::CallForHelp&) {
        return {false, 0, app.help()};
    } catch (const CLI::CallForAllHelp&) {
        return {false, 0, app.help("", CLI::AppFormatMode::All)};
    } catch (const CLI::CallForVersion& e) {
        return {false, 0, std::string(e.what()) + "\n"};
    } catch (const CLI::ParseError& e) {
        return Refuse(e.what());
    }
}

Outcome Refuse(const std::string& reason) { return {false, 2, reason}; }

int Finish(const char* program, const Outcome& outcome) {
    if (outcome.status == 0) {
        std::fputs(outcome.text.c_str(), stdout);
    } else {
        std::fprintf(stderr, "%s: %s\n", program, outcome.text.c_str());
    }
    return outcome.status;
}

}  // namespace cli
