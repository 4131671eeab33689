#pragma once
// The command line of every trm27k program: CLI11 with a generated --help and
// --version, and one mapping of its outcomes onto exit statuses: 0 after
// --help or --version, 2 for any refusal.
#include <string>

#include <CLI/CLI.hpp>

namespace cli {

// What a parse ended with. `run` false: the program prints `text` (to standard
// output for status 0, standard error otherwise) and exits with `status`.
struct Outcome {
    bool run = true;
    int status = 0;
    std::string text;
};

// The version of the trm27k programs, as --version prints it.
const char* Version();

// Adds -h/--help and --version to `app`.
void SetUp(CLI::App& app);

// Parses argv into `app`'s options; never throws.
Outcome Parse(CLI::App& app, int argc, const char* const* argv);

// An outcome that refuses with `reason` (status 2).
Outcome Refuse(const std::string& reason);

// Prints the outcome's text where it belongs, prefixed with the program's
// name when it is a refusal, and gives the exit status.
int Finish(const char* program, const Outcome& outcome);

}  // namespace cli
