// The launcher's own arguments: split as Windows splits its command line,
// quoted so java.exe gets each back whole, and their environment variables.
#include "java_command_line.hpp"
#include "launcher_args.hpp"

#include <windows.h>

#include <gtest/gtest.h>

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
        {L"p \"C:\\\" x", {L"p", L"C:\" x"}},  // a drive root as "%1" gives: the backslash escapes the quote
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

#ifndef _WIN32
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
#endif

// Through the wide API, which is what children inherit on Windows.
std::wstring variable(const wchar_t* name) {
    wchar_t value[64];
    DWORD length = GetEnvironmentVariableW(name, value, 64);
    return length > 0 && length < 64 ? std::wstring(value, length) : L"(unset)";
}

void setVariable(const wchar_t* name, const wchar_t* value) {
    ASSERT_TRUE(SetEnvironmentVariableW(name, value));
}

TEST(ArgumentForwarding, ChildrenGetTheirVariablesAndNoStaleOnes) {
    setVariable(L"LAUNCHER_ARGC", L"7");
    setVariable(L"LAUNCHER_ARG5", L"stale");
    setVariable(L"LAUNCHER_ARGS", L"not ours");
    rememberGivenEnvironment();

    const struct {
        const char* step;
        bool forward;
        std::vector<std::wstring> arguments;
        std::vector<std::wstring> argc1Arg2Arg5Args;
    } steps[] = {
        {"first start that forwards", true, {L"a b", L"日本"}, {L"2", L"a b", L"日本", L"(unset)", L"not ours"}},
        {"a start that does not", false, {L"a b", L""}, {L"7", L"(unset)", L"(unset)", L"stale", L"not ours"}},
        {"forwarding again, more arguments", true, {L"1", L"2", L"3", L"4", L"5"},
         {L"5", L"1", L"2", L"5", L"not ours"}},
        {"fewer after more", true, {L"x"}, {L"1", L"x", L"(unset)", L"(unset)", L"not ours"}},
        {"none at all", true, {}, {L"0", L"(unset)", L"(unset)", L"(unset)", L"not ours"}},
        {"back to the given environment", false, {}, {L"7", L"(unset)", L"(unset)", L"stale", L"not ours"}},
    };
    for (const auto& s : steps) {
        prepareChildEnvironment(s.forward, s.arguments);
        EXPECT_EQ((std::vector<std::wstring>{variable(L"LAUNCHER_ARGC"), variable(L"LAUNCHER_ARG1"),
                                             variable(L"LAUNCHER_ARG2"), variable(L"LAUNCHER_ARG5"),
                                             variable(L"LAUNCHER_ARGS")}),
                  s.argc1Arg2Arg5Args)
            << s.step;
    }
    for (const wchar_t* name : {L"LAUNCHER_ARGC", L"LAUNCHER_ARG5", L"LAUNCHER_ARGS"}) {
        setVariable(name, NULL);
    }
    rememberGivenEnvironment();
}

}  // namespace
