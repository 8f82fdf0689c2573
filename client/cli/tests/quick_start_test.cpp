// The README's quick start, run as written against a private server: each `name$` line is a
// command in that person's terminal, each `name>` line is typed into the program running
// there, and every other line must appear in that terminal (time stamps may differ). The
// session port of the private server stands in for 8000.

#include <regex>

#include "tlvmsg_fixture.h"

namespace {

using namespace tlvmsg_testing;

struct Step {
    std::string terminal;
    bool command = false;  // else a line typed into the running program
    std::string text;
    std::vector<std::string> expected;
};

std::vector<Step> QuickStartSteps() {
    std::ifstream in(README_FILE);
    std::vector<Step> steps;
    bool inSection = false;
    bool inBlock = false;
    const std::regex command(R"(^([a-z]+)\$ (.*)$)");
    const std::regex typed(R"(^([a-z]+)>(?: (.*))?$)");
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with("## ")) {
            inSection = line == "## Quick start";
            continue;
        }
        if (!inSection) {
            continue;
        }
        if (line.starts_with("```")) {
            inBlock = !inBlock && line == "```console";
            continue;
        }
        std::smatch match;
        if (!inBlock || line.empty()) {
            continue;
        }
        if (std::regex_match(line, match, command) || std::regex_match(line, match, typed)) {
            steps.push_back(
                {match[1], line[static_cast<std::size_t>(match.length(1))] == '$', match[2], {}});
        } else if (!steps.empty()) {
            steps.back().expected.push_back(line);
        }
    }
    return steps;
}

// The expected line as a pattern: literal, except that any time stamp will do.
std::regex LinePattern(const std::string& expected) {
    static const std::regex stamp(R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\])");
    static const std::regex special(R"([.^$|()\[\]{}*+?\\])");
    std::string pattern;
    std::sregex_token_iterator part(expected.begin(), expected.end(), stamp, {-1, 0});
    for (; part != std::sregex_token_iterator(); ++part) {
        const std::string text = *part;
        pattern += std::regex_match(text, stamp) ? R"(\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\])"
                                                 : std::regex_replace(text, special, R"(\$&)");
    }
    return std::regex(pattern);
}

bool HasLine(const std::string& output, const std::regex& pattern) {
    std::string line;
    for (const char c : output + "\n") {
        if (c == '\n' || c == '\r') {
            if (std::regex_match(line, pattern)) {
                return true;
            }
            line.clear();
        } else {
            line += c;
        }
    }
    return false;
}

std::string WithPort(std::string text, unsigned port) {
    for (const std::string from : {"--port 8000", "Port: 8000"}) {
        if (const auto at = text.find(from); at != std::string::npos) {
            text.replace(at, from.size(), from.substr(0, from.size() - 4) + std::to_string(port));
        }
    }
    return text;
}

TEST_F(Tlvmsg, TheReadmeQuickStartWorksAsWritten) {
    const auto steps = QuickStartSteps();
    ASSERT_GE(steps.size(), 10u) << "no quick start found in " << README_FILE;

    // A fresh user: a home of their own, the settings and the account folder in it.
    const auto userHome = home.Path() / "home";
    const auto work = home.Path() / "work";
    fs::create_directories(userHome);
    fs::create_directories(work);
    ::setenv("HOME", userHome.c_str(), 1);
    for (const char* name : {"TALVORINE_CLIENT_HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME"}) {
        ::unsetenv(name);
    }
    const auto path = fs::path(TLVMSG_EXE).parent_path().string() + ":" + std::getenv("PATH");
    ::setenv("PATH", path.c_str(), 1);

    std::map<std::string, std::unique_ptr<PtyProgram>> terminals;
    for (const auto& step : steps) {
        auto& program = terminals[step.terminal];
        const auto where = step.terminal + (step.command ? "$ " : "> ") + step.text;
        if (step.command) {
            if (program) {
                ASSERT_EQ(program->Wait(), 0) << where << "\n" << program->Output();
            }
            program = std::make_unique<PtyProgram>("cd '" + work.string() + "' && " +
                                                   WithPort(step.text, server.Port()));
        } else {
            ASSERT_TRUE(program) << where << ": nothing runs in that terminal";
            program->Type(step.text);
        }
        for (const auto& line : step.expected) {
            const auto pattern = LinePattern(WithPort(line, server.Port()));
            EXPECT_TRUE(program->WaitUntil([&](const std::string& output) {
                return HasLine(output, pattern);
            })) << "after "
                << where << "\nexpected: " << line << "\nprinted:\n"
                << program->Output();
        }
    }
    for (auto& [terminal, program] : terminals) {
        EXPECT_EQ(program->Wait(), 0) << terminal << "\n" << program->Output();
    }
}

}  // namespace
