// Feeds arbitrary argument lists through the launcher's forwarding, as a
// launcher on a Windows with code page 932 and one with 1252 would forward
// them, and checks by property what a user relies on:
// - split as java.exe splits it in that code page, the command line gives
//   back after the main class exactly the form the reading declared for each
//   argument: the exact text, or (what the code page lacks) "?" in its place;
// - LAUNCHER_ARGC and LAUNCHER_ARGn hold the arguments exactly, read back from
//   the environment a child inherits;
// - the length the launcher checks against Windows' limit is the line's real
//   length in UTF-16 units;
// - nothing crashes.
//
// The input is the launcher's argv after its name, each argument ended by a
// NUL byte, read by the launcher's own launcherArguments: UTF-8 text, and a
// byte that is no UTF-8 stands for itself (U+DC80 + byte). The byte 0x01
// followed by a count n repeats the character before it 64 * n times, so
// lines reach Windows' limit. 932 and 1252 come from the
// POSIX stand-in's tables, which convert as Windows does (no best fit, the
// same lead bytes); the Wine runs of the unit tables hold it to Wine's own.
#include "base.hpp"
#include "boot_reading.hpp"
#include "java_command_line.hpp"
#include "launcher_args.hpp"
#include "utf8.hpp"

#include "scratch_boot_file.hpp"

#include <windows.h>

#include <stdint.h>
#include <stdlib.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const char bootText[] =
    "<boot><item key=\"java\" value=\"${APP_DIR}jre/bin/javaw.exe\"/><item key=\"-Xmx\" value=\"64m\"/>"
    "<item key=\"-cp\" value=\"lib/*\"/><item key=\"args\" value=\"-Dx=&quot;a b&quot;\"/>"
    "<item key=\"main\" value=\"demo.App\"/><item key=\"launcherArgs\" value=\"append\"/></boot>";

const size_t maxCharactersThroughEnvironment = 512;

[[noreturn]] void fail(const char* what, unsigned codePage, size_t argument) {
    std::fprintf(stderr, "code page %u, argument %zu: %s\n", codePage, argument, what);
    std::abort();
}

std::vector<std::wstring> argumentsOf(const uint8_t* data, size_t size) {
    std::vector<std::string> argv(2);  // the program name, then the first argument
    std::string character;
    for (size_t i = 0; i < size;) {
        if (data[i] == 0) {
            argv.push_back(std::string());
            character.clear();
            ++i;
            continue;
        }
        if (data[i] == 1 && i + 1 < size) {
            for (size_t n = 64 * static_cast<size_t>(data[i + 1]); n > 0; --n) {
                argv.back() += character;
            }
            i += 2;
            continue;
        }
        uint32_t codePoint;
        size_t length = decodeUtf8(data + i, size - i, codePoint);
        character.assign(reinterpret_cast<const char*>(data + i), length == 0 ? 1 : length);
        argv.back() += character;
        i += character.size();
    }
    if (argv.back().empty() && size > 0 && data[size - 1] == 0) {
        argv.pop_back();
    }
    std::vector<char*> pointers;
    for (std::string& argument : argv) {
        pointers.push_back(&argument[0]);
    }
    return launcherArguments(static_cast<int>(pointers.size()), pointers.data());
}

// The line's length as Windows counts it, found without the conversion: 1252
// has one unit per byte, 932 one per single byte or lead-and-trail pair.
size_t realUnits(const std::string& line, unsigned codePage) {
    size_t units = 0;
    for (size_t i = 0; i < line.size(); ++i, ++units) {
        unsigned char c = static_cast<unsigned char>(line[i]);
        if (codePage == 932 && ((c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC)) && i + 1 < line.size()) {
            ++i;
        }
    }
    return units;
}

std::wstring variable(const std::wstring& name) {
    DWORD size = GetEnvironmentVariableW(name.c_str(), NULL, 0);
    if (size == 0) {
        return L"(unset)";
    }
    std::vector<wchar_t> value(size);
    DWORD length = GetEnvironmentVariableW(name.c_str(), value.data(), size);
    return std::wstring(value.data(), length);
}

void check(const std::vector<std::wstring>& arguments, unsigned codePage) {
    BootReading reading = readBootFile(scratchBootFile, StartInputs{"/opt/app/", "/opt/app/", arguments, codePage});
    if (reading.error.failure != bootRead || reading.arguments.size() != arguments.size()) {
        fail("the reading failed or lost arguments", codePage, 0);
    }
    std::vector<std::string> words =
        splitCommandLine(reading.commandLine.c_str(), [codePage](char c) { return isLeadByte(codePage, c); });
    // javaw.exe -Xmn -Xms -Xmx64m -cp lib/* -Dx="a b" demo.App: eight words before the arguments.
    const size_t before = 8;
    if (words.size() != before + arguments.size() || words[before - 1] != "demo.App") {
        fail("java would receive another number of arguments", codePage, words.size());
    }
    for (size_t i = 0; i < arguments.size(); ++i) {
        const ForwardedArgument& forwarded = reading.arguments[i];
        if (words[before + i] != forwarded.ansi) {
            fail("java would receive another text than the form declared", codePage, i + 1);
        }
        bool exact = ansiToWString(forwarded.ansi, codePage) == arguments[i];
        if ((forwarded.form == argumentExact) != exact) {
            fail("an argument declared exact is not, or one that is was not declared so", codePage, i + 1);
        }
        if (forwarded.form == argumentLossy && forwarded.ansi != wstringToAnsiReplacing(arguments[i], codePage)) {
            fail("a lossy argument is not the code page's text with ?", codePage, i + 1);
        }
    }
    if (reading.commandLineLength != realUnits(reading.commandLine, codePage)) {
        fail("the length checked against the limit is not the line's length", codePage, 0);
    }
    if (reading.childVariables != launcherVariables(arguments)) {
        fail("the reading declares other LAUNCHER_* variables than the launcher sets", codePage, 0);
    }
    // glibc keeps every value setenv was ever given, so only small lists go
    // through the real environment; a long run would otherwise fill memory.
    size_t characters = 0;
    for (const std::wstring& argument : arguments) {
        characters += argument.size();
    }
    if (characters > maxCharactersThroughEnvironment) {
        return;
    }
    prepareChildEnvironment(true, arguments);
    if (variable(L"LAUNCHER_ARGC") != std::to_wstring(arguments.size())) {
        fail("LAUNCHER_ARGC is wrong", codePage, 0);
    }
    for (size_t i = 0; i < arguments.size(); ++i) {
        if (variable(L"LAUNCHER_ARG" + std::to_wstring(i + 1)) != arguments[i]) {
            fail("LAUNCHER_ARGn does not hold the argument exactly", codePage, i + 1);
        }
    }
    if (variable(L"LAUNCHER_ARG" + std::to_wstring(arguments.size() + 1)) != L"(unset)") {
        fail("a stale LAUNCHER_ARGn remains", codePage, arguments.size() + 1);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    makeScratchBootFile("args-fuzz");
    writeScratchBootFile(bootText, sizeof bootText - 1);
    rememberGivenEnvironment();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::wstring> arguments = argumentsOf(data, size);
    for (unsigned codePage : {932u, 1252u}) {
        check(arguments, codePage);
    }
    return 0;
}
