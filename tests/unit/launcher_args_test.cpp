// The launcher's own arguments: split as Windows splits its command line,
// quoted so java.exe gets each back whole, and their environment variables.
#include "java_command_line.hpp"
#include "launcher_args.hpp"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

TEST(ArgumentForwarding, SplitsTheWideCommandLineAsWindowsDoes) {
    const struct {
        const wchar_t* commandLine;
        std::vector<std::wstring> words;
    } cases[] = {
        {L"\"C:\\My App\\MyApp.exe\" \"D:\\報告 2026.myapp\"", {L"C:\\My App\\MyApp.exe", L"D:\\報告 2026.myapp"}},
        {L"launcher.exe", {L"launcher.exe"}},
        {L"launcher.exe   a\tb  ", {L"launcher.exe", L"a", L"b"}},
        {L"\"C:\\a\\\"b c", {L"C:\\a\\", L"b", L"c"}},  // the program's quotes end at the next quote
        {L"C:\\x\"y z\" a", {L"C:\\x\"y", L"z a"}},  // an unquoted program ends at a blank
        {L"p \"\"", {L"p", L""}},
        {L"p a\\\\b", {L"p", L"a\\\\b"}},
        {L"p a\\\\\"b c\"", {L"p", L"a\\b c"}},
        {L"p a\\\"b", {L"p", L"a\"b"}},
        {L"p \"a\\\\\"", {L"p", L"a\\"}},
        {L"p \"a\"\"b\" c", {L"p", L"a\"b c"}},  // "" inside quotes: a quote, quoting closed
        {L"p \"\"\"a\"\"\" b", {L"p", L"\"a\"", L"b"}},
        {L"p \"unterminated arg", {L"p", L"unterminated arg"}},
        {L"p *.txt ?", {L"p", L"*.txt", L"?"}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(splitWindowsCommandLine(c.commandLine), c.words) << testing::PrintToString(c.commandLine);
    }
}

TEST(ArgumentForwarding, EachArgumentReachesJavaWhole) {
    const std::vector<std::string> arguments = {
        "plain", "with blank", "tab\there", "say \"hi\"", "\"", "\"\"", "trailing\\", "two\\\\", "C:\\",
        "a\\\"b", "", "*", "*.txt", "?", "日本語のファイル.txt", "D:\\報告 2026.myapp", "-Dx=\"y z\"",
    };
    for (const std::string& argument : arguments) {
        std::string quoted = quoteForJava(argument);
        EXPECT_EQ(splitCommandLine(("java " + quoted + " next").c_str()),
                  (std::vector<std::string>{"java", argument, "next"}))
            << quoted;
        std::wstring wide(quoted.begin(), quoted.end());
        bool ascii = true;
        for (char c : argument) {
            ascii = ascii && static_cast<unsigned char>(c) < 0x80;
        }
        if (ascii) {
            EXPECT_EQ(splitWindowsCommandLine(L"java " + wide).at(1), std::wstring(argument.begin(), argument.end()))
                << quoted;
        }
    }
}

TEST(ArgumentForwarding, NativeArgumentsGoInAsTheirBytes) {
    for (const std::wstring& argument : {std::wstring(L"日本語"), std::wstring(L"plain"), std::wstring(L"")}) {
        ForwardedArgument forwarded = forwardedArgument(argument);
        EXPECT_EQ(forwarded.form, argumentExact);
    }
    char notUtf8[] = "\xff\xfe.txt";
    char* argv[] = {const_cast<char*>("launcher"), notUtf8};
    std::vector<std::wstring> arguments = launcherArguments(2, argv);
    ASSERT_EQ(arguments.size(), 1u);
    EXPECT_EQ(forwardedArgument(arguments[0]).ansi, notUtf8);
}

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value != NULL ? value : "(unset)";
}

TEST(ArgumentForwarding, ChildrenGetTheirVariablesAndNoStaleOnes) {
    setenv("LAUNCHER_ARGC", "7", 1);
    setenv("LAUNCHER_ARG5", "stale", 1);
    setenv("LAUNCHER_ARGS", "not ours", 1);
    rememberGivenEnvironment();

    const struct {
        const char* step;
        bool forward;
        std::vector<std::wstring> arguments;
        std::vector<std::string> argc1Arg2Arg5Args;
    } steps[] = {
        {"first start that forwards", true, {L"a b", L""}, {"2", "a b", "", "(unset)", "not ours"}},
        {"a start that does not", false, {L"a b", L""}, {"7", "(unset)", "(unset)", "stale", "not ours"}},
        {"forwarding again, more arguments", true, {L"1", L"2", L"3", L"4", L"5"}, {"5", "1", "2", "5", "not ours"}},
        {"fewer after more", true, {L"x"}, {"1", "x", "(unset)", "(unset)", "not ours"}},
        {"none at all", true, {}, {"0", "(unset)", "(unset)", "(unset)", "not ours"}},
        {"back to the given environment", false, {}, {"7", "(unset)", "(unset)", "stale", "not ours"}},
    };
    for (const auto& s : steps) {
        prepareChildEnvironment(s.forward, s.arguments);
        EXPECT_EQ((std::vector<std::string>{variable("LAUNCHER_ARGC"), variable("LAUNCHER_ARG1"),
                                            variable("LAUNCHER_ARG2"), variable("LAUNCHER_ARG5"),
                                            variable("LAUNCHER_ARGS")}),
                  s.argc1Arg2Arg5Args)
            << s.step;
    }
    unsetenv("LAUNCHER_ARGC");
    unsetenv("LAUNCHER_ARG5");
    unsetenv("LAUNCHER_ARGS");
    rememberGivenEnvironment();
}

}  // namespace
