// The launcher's own arguments: split as Windows splits its command line,
// quoted so java.exe gets each back whole, and their environment variables.
#include "java_command_line.hpp"
#include "launcher_args.hpp"
#include "test_files.hpp"

#include "base.hpp"
#include "boot_reading.hpp"

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

// Each argument in each form the launcher gives it, through its quoting and
// java.exe's split of that code page: the same bytes come back, one word.
TEST(ArgumentForwarding, EveryFormReachesJavaWholeInEachCodePage) {
    const std::vector<std::wstring> arguments = {
        L"plain", L"with blank", L"tab\there", L"say \"hi\"", L"\"", L"\"\"", L"trailing\\", L"two\\\\",
        L"C:\\", L"a\\\"b", L"", L"*", L"*.txt", L"?", L"日本語のファイル.txt", L"D:\\報告 2026.myapp",
        L"-Dx=\"y z\"", L"表", L"ソ", L"C:\\表\\", L"表\"ソ\\", L"Łódź €", L"emoji \U0001F600",
    };
    for (unsigned codePage : {932u, 1252u, 65001u}) {
        for (const std::wstring& argument : arguments) {
            ForwardedArgument forwarded = forwardedArgument(argument, codePage);
            std::string line = "java " + quoteForJava(forwarded.ansi, codePage) + " next";
            std::vector<std::string> words =
                splitCommandLine(line.c_str(), [codePage](char c) { return isLeadByte(codePage, c); });
            EXPECT_EQ(words, (std::vector<std::string>{"java", forwarded.ansi, "next"}))
                << codePage << " " << testing::PrintToString(line);
            EXPECT_EQ(forwarded.form == argumentExact, ansiToWString(forwarded.ansi, codePage) == argument)
                << codePage << " " << testing::PrintToString(forwarded.ansi);
        }
    }
}

TEST(ArgumentForwarding, FormsComeFromTheCodePageAsked) {
    const struct {
        const wchar_t* argument;
        unsigned codePage;
        ArgumentForm form;
        std::string ansi;
        std::string quoted;
    } cases[] = {
        // The second byte of 表 and of ソ in 932 is the backslash's: it is not doubled.
        {L"表", 932, argumentExact, "\x95\x5C", "\"\x95\x5C\""},
        {L"ソ\\", 932, argumentExact, "\x83\x5C\\", "\"\x83\x5C\\\\\""},
        {L"表", 1252, argumentLossy, "?", "\"?\""},
        {L"Łódź €", 1252, argumentLossy, "?\xF3" "d? \x80", "\"?\xF3" "d? \x80\""},
        {L"€", 932, argumentLossy, "?", "\"?\""},
        {L"日本", 65001, argumentExact, "\xE6\x97\xA5\xE6\x9C\xAC", "\"\xE6\x97\xA5\xE6\x9C\xAC\""},
    };
    for (const auto& c : cases) {
        ForwardedArgument forwarded = forwardedArgument(c.argument, c.codePage);
        EXPECT_EQ(forwarded.form, c.form) << c.codePage << " " << testing::PrintToString(c.ansi);
        EXPECT_EQ(forwarded.ansi, c.ansi) << c.codePage;
        EXPECT_EQ(quoteForJava(forwarded.ansi, c.codePage), c.quoted) << c.codePage;
    }
}

// Windows counts UTF-16 units; so does every build of the launcher.
TEST(ArgumentForwarding, CommandLineLengthIsInUtf16Units) {
    const struct {
        const char* name;
        std::string commandLine;
        unsigned codePage;
        size_t units;
    } cases[] = {
        {"ASCII", "java -cp a Main", 1252, 15},
        {"a byte per character in 1252", "\x80\xF3", 1252, 2},
        {"two bytes per character in 932, trail byte 0x5C included", "\x93\xFA\x96\x7B\x95\x5C", 932, 3},
        {"three UTF-8 bytes, one unit", "\xE6\x97\xA5", 65001, 1},
        {"a character beyond the BMP is two units", "\xF0\x9F\x98\x80x", 65001, 3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(commandLineUnits(c.commandLine, c.codePage), c.units) << c.name;
    }
}

class ReadingDecides : public ScratchDirTest {};

// What the reading hands over: the launcher starts with it, bootcheck prints it.
TEST_F(ReadingDecides, CommandLineFormsVariablesLengthAndItems) {
    writeFile(dir / "boot.xml",
              "<boot><item key=\"java\" value=\"${PARENT_DIR}java\"/><item key=\"main\" value=\"A\"/>"
              "<item key=\"main\" value=\"M\"/><item key=\"launcherArgs\" value=\"append\"/></boot>");
    const struct {
        const char* name;
        std::vector<std::wstring> arguments;
        unsigned codePage;
        std::string commandLine;
        std::vector<ArgumentForm> forms;
    } cases[] = {
        {"none given", {}, 1252, "/opt/x/java -Xmn -Xms -Xmx -cp   M", {}},
        {"932", {L"表", L"a b"}, 932, "/opt/x/java -Xmn -Xms -Xmx -cp   M \"\x95\x5C\" \"a b\"",
         {argumentExact, argumentExact}},
        {"1252", {L"表", L"a b"}, 1252, "/opt/x/java -Xmn -Xms -Xmx -cp   M \"?\" \"a b\"",
         {argumentLossy, argumentExact}},
    };
    for (const auto& c : cases) {
        // The reading writes nothing: the launcher writes its own line where it reads.
        testing::internal::CaptureStdout();
        BootReading reading = readBootFile(path("boot.xml"), StartInputs{"/opt/app/", "/opt/x/", c.arguments, c.codePage});
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << c.name;
        EXPECT_EQ(reading.error.failure, bootRead) << c.name;
        EXPECT_EQ(reading.commandLine, c.commandLine) << c.name;
        EXPECT_EQ(reading.commandLineLength, commandLineUnits(c.commandLine, c.codePage)) << c.name;
        std::vector<ArgumentForm> forms;
        for (const ForwardedArgument& argument : reading.arguments) {
            forms.push_back(argument.form);
        }
        EXPECT_EQ(forms, c.forms) << c.name;
        EXPECT_EQ(reading.childVariables, launcherVariables(c.arguments)) << c.name;
        EXPECT_EQ(reading.valueItems.at("main"), 2) << c.name;
        EXPECT_EQ(reading.valueItems.at("-cp"), -1) << c.name;
    }
    EXPECT_EQ(launcherVariables({L"表", L""}),
              (std::vector<std::pair<std::wstring, std::wstring> >{
                  {L"LAUNCHER_ARGC", L"2"}, {L"LAUNCHER_ARG1", L"表"}, {L"LAUNCHER_ARG2", L""}}));
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
