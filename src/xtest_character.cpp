#include "xtest_character.hpp"

#include "base.hpp"

#include <clocale>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

// A console that cannot take the text leaves wcout failed; clear it so the
// next probe and later wide output still get their try.
void writeWideLine(const std::wstring& text) {
    std::wcout << text << std::endl;
    std::wcout.clear();
}

}  // namespace

void characterCodeTest() {
    std::cout << "TEST1" << std::endl;
    writeWideLine(L"日本語");

    std::cout << "TEST2" << std::endl;
    writeWideLine(utf8ToWString("日本語"));

    std::cout << "TEST4" << std::endl;
    std::setlocale(LC_ALL, "Japanese");
    std::printf("%s", "開発環境の設定に応じた文字列");

    std::cout << "TEST5" << std::endl;
    std::setlocale(LC_ALL, "Japanese");
    std::puts("前処理をしないと、この日本語もうまく表示できない。");
}
