#include "feed_manifest.hpp"

#include "update_files.hpp"

#include "case_fold.hpp"
#include "windows_name.hpp"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <set>

const char feedManifestName[] = "manifest.txt";
const char feedSignatureName[] = "manifest.sig";
const char feedFilesFolder[] = "files";

namespace {

const char formatLine[] = "launcher-update 1";
const size_t versionMaxLength = 64;
const size_t sizeMaxDigits = 15;  // below a petabyte a file

bool isDigits(const std::string& text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isSha256Hex(const std::string& text) {
    return text.size() == 64 && std::all_of(text.begin(), text.end(), [](char c) {
               return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f');
           });
}

// The numbers of a version without their leading zeros.
std::vector<std::string> versionNumbers(const std::string& version) {
    std::vector<std::string> numbers;
    size_t start = 0;
    while (start <= version.size()) {
        size_t end = std::min(version.find('.', start), version.size());
        std::string number = version.substr(start, end - start);
        number.erase(0, std::min(number.find_first_not_of('0'), number.size()));
        numbers.push_back(number);
        start = end + 1;
    }
    return numbers;
}

// Days since 1970-01-01 of a date in the proleptic Gregorian calendar, and
// back: the same on every C library, with no time_t of 32 bits on the way.
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day) {
    year -= month <= 2;
    int64_t era = (year >= 0 ? year : year - 399) / 400;
    int64_t yearOfEra = year - era * 400;
    int64_t dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + dayOfEra - 719468;
}

void civilFromDays(int64_t days, int64_t& year, int64_t& month, int64_t& day) {
    days += 719468;
    int64_t era = (days >= 0 ? days : days - 146096) / 146097;
    int64_t dayOfEra = days - era * 146097;
    int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
    day = dayOfYear - (153 * shiftedMonth + 2) / 5 + 1;
    month = shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9;
    year = yearOfEra + era * 400 + (month <= 2);
}

const int64_t secondsPerDay = 86400;
// Years of four digits, as the text has them.
const int64_t lastSecond = daysFromCivil(10000, 1, 1) * secondsPerDay - 1;

std::string lineError(size_t number, const std::string& what) {
    return "line " + std::to_string(number) + ": " + what;
}

}  // namespace

std::string utcTimeText(int64_t seconds) {
    if (seconds < 0 || seconds > lastSecond) {
        return "";
    }
    int64_t year = 0, month = 0, day = 0;
    civilFromDays(seconds / secondsPerDay, year, month, day);
    int64_t inDay = seconds % secondsPerDay;
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", static_cast<int>(year),
                  static_cast<int>(month), static_cast<int>(day), static_cast<int>(inDay / 3600),
                  static_cast<int>(inDay / 60 % 60), static_cast<int>(inDay % 60));
    return text;
}

int64_t utcTimeSeconds(const std::string& text) {
    // "YYYY-MM-DDTHH:MM:SSZ", nothing more or less.
    static const char shape[] = "dddd-dd-ddTdd:dd:ddZ";
    if (text.size() != sizeof shape - 1) {
        return -1;
    }
    for (size_t i = 0; i < text.size(); ++i) {
        bool digit = text[i] >= '0' && text[i] <= '9';
        if (shape[i] == 'd' ? !digit : text[i] != shape[i]) {
            return -1;
        }
    }
    auto field = [&text](size_t at, size_t length) { return std::stoll(text.substr(at, length)); };
    int64_t year = field(0, 4), month = field(5, 2), day = field(8, 2);
    int64_t hour = field(11, 2), minute = field(14, 2), second = field(17, 2);
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59) {
        return -1;
    }
    int64_t seconds = daysFromCivil(year, month, day) * secondsPerDay + hour * 3600 + minute * 60 + second;
    // A day the month does not have (February 30) comes back as another date.
    return utcTimeText(seconds) == text ? seconds : -1;
}

bool validVersion(const std::string& version) {
    if (version.empty() || version.size() > versionMaxLength) {
        return false;
    }
    size_t start = 0;
    while (true) {
        size_t end = std::min(version.find('.', start), version.size());
        if (!isDigits(version.substr(start, end - start))) {
            return false;
        }
        if (end == version.size()) {
            return true;
        }
        start = end + 1;
    }
}

int compareVersions(const std::string& a, const std::string& b) {
    std::vector<std::string> left = versionNumbers(a), right = versionNumbers(b);
    for (size_t i = 0; i < std::max(left.size(), right.size()); ++i) {
        const std::string x = i < left.size() ? left[i] : "";
        const std::string y = i < right.size() ? right[i] : "";
        if (x.size() != y.size()) {
            return x.size() < y.size() ? -1 : 1;
        }
        if (x != y) {
            return x < y ? -1 : 1;
        }
    }
    return 0;
}

std::string feedPathProblem(const std::string& path) {
    if (path.empty()) {
        return "it is empty";
    }
    if (path[0] == '/' || path[0] == '\\') {
        return "it is absolute";
    }
    if (path.size() >= 2 && path[1] == ':') {
        return "it names a drive";
    }
    if (path.find('\\') != std::string::npos) {
        return "it holds \"\\\" (names are separated by \"/\")";
    }
    size_t start = 0;
    while (true) {
        size_t end = std::min(path.find('/', start), path.size());
        std::string name = path.substr(start, end - start);
        if (name.empty()) {
            return "it has an empty name";
        }
        if (name == "." || name == "..") {
            return "it holds a \"" + name + "\" name";
        }
        std::string problem = windowsNameProblem(name);
        if (!problem.empty()) {
            return "\"" + name + "\": " + problem;
        }
        if (end == path.size()) {
            return "";
        }
        start = end + 1;
    }
}

std::string feedManifestText(const FeedManifest& manifest) {
    std::vector<FeedFile> files = manifest.files;
    std::sort(files.begin(), files.end(), [](const FeedFile& a, const FeedFile& b) { return a.path < b.path; });
    std::string text = std::string(formatLine) + "\n";
    text += "product " + manifest.product + "\n";
    text += "version " + manifest.version + "\n";
    text += "released " + utcTimeText(manifest.released) + "\n";
    text += "expires " + utcTimeText(manifest.expires) + "\n";
    for (const std::string& folder : manifest.codeFolders) {
        text += "code " + folder + "\n";
    }
    for (const FeedFile& file : files) {
        text += "file " + std::to_string(file.size) + " " + file.sha256 + " " + file.path + "\n";
    }
    return text;
}

std::string readFeedManifest(const std::string& text, FeedManifest& manifest) {
    manifest = FeedManifest();
    if (text.size() > feedManifestLimit) {
        return "it is larger than " + std::to_string(feedManifestLimit) + " bytes";
    }
    if (text.empty() || text.back() != '\n') {
        return "it does not end with a line end";
    }
    // The header's lines in their order, then the code folders, then the files.
    static const char* const header[] = {"product", "version", "released", "expires"};
    const size_t headerLines = sizeof header / sizeof header[0];
    std::set<std::string> fileKeys;    // case folded, as Windows tells names apart
    std::set<std::string> folderKeys;  // the code folders and every folder above a file
    int64_t total = 0;
    size_t number = 0;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end - start);
        start = end + 1;
        ++number;
        if (number == 1) {
            if (line != formatLine) {
                return lineError(number, "not a manifest of this updater (\"" + std::string(formatLine) + "\" expected)");
            }
            continue;
        }
        size_t blank = line.find(' ');
        std::string kind = line.substr(0, blank);
        std::string value = blank == std::string::npos ? "" : line.substr(blank + 1);
        if (number - 2 < headerLines) {
            if (kind != header[number - 2] || blank == std::string::npos) {
                return lineError(number, "\"" + std::string(header[number - 2]) + " ...\" expected");
            }
            int64_t seconds = kind == "released" || kind == "expires" ? utcTimeSeconds(value) : 0;
            if (kind == "product") {
                if (value.empty()) {
                    return lineError(number, "the product is empty");
                }
                manifest.product = value;
            } else if (kind == "version") {
                if (!validVersion(value)) {
                    return lineError(number, "\"" + value + "\" is not a version of digits and dots");
                }
                manifest.version = value;
            } else if (seconds < 0) {
                return lineError(number, "\"" + value + "\" is not a time such as 2026-12-09T10:00:00Z");
            } else if (kind == "released") {
                manifest.released = seconds;
            } else if (seconds < manifest.released) {
                return lineError(number, "it expires before its release");
            } else {
                manifest.expires = seconds;
            }
            continue;
        }
        if (kind == "code") {
            if (!manifest.files.empty()) {
                return lineError(number, "a code folder after the files");
            }
            std::string problem = value.find('/') != std::string::npos ? "it is not one name" : windowsNameProblem(value);
            if (!problem.empty()) {
                return lineError(number, "the code folder \"" + value + "\" cannot be a folder at the top (" +
                                             problem + ")");
            }
            if (!folderKeys.insert(foldedCase(value)).second) {
                return lineError(number, "the code folder \"" + value + "\" is given twice");
            }
            manifest.codeFolders.push_back(value);
            continue;
        }
        if (kind != "file") {
            return lineError(number, "\"" + kind + "\" is not a line of a manifest");
        }
        size_t second = value.find(' ');
        size_t third = second == std::string::npos ? std::string::npos : value.find(' ', second + 1);
        if (third == std::string::npos) {
            return lineError(number, "\"file SIZE SHA-256 PATH\" expected");
        }
        FeedFile file;
        std::string size = value.substr(0, second);
        file.sha256 = value.substr(second + 1, third - second - 1);
        file.path = value.substr(third + 1);
        if (!isDigits(size) || size.size() > sizeMaxDigits) {
            return lineError(number, "the size \"" + size + "\" is not a number of bytes");
        }
        file.size = std::stoll(size);
        if (file.size > std::numeric_limits<int64_t>::max() - total) {
            return lineError(number, "the files add up to more bytes than a disk holds");
        }
        total += file.size;
        if (!isSha256Hex(file.sha256)) {
            return lineError(number, "the hash \"" + file.sha256 + "\" is not 64 lower-case hex digits");
        }
        std::string problem = feedPathProblem(file.path);
        if (!problem.empty()) {
            return lineError(number, "the path \"" + file.path + "\" cannot name a file in the app folder (" +
                                         problem + ")");
        }
        if (isUpdateOwnFile(file.path) || sameWindowsName(file.path, updateInstalledName)) {
            return lineError(number, "the path \"" + file.path + "\" is one of the updater's own files");
        }
        if (!manifest.files.empty() && !(manifest.files.back().path < file.path)) {
            return lineError(number, "the files are not sorted by path");
        }
        // One name on Windows is one file: no path twice, and none that is
        // also a folder of another path.
        std::string key = foldedCase(file.path);
        if (fileKeys.count(key) != 0) {
            return lineError(number, "the path \"" + file.path + "\" is listed twice (case folded)");
        }
        if (folderKeys.count(key) != 0) {
            return lineError(number, "the path \"" + file.path + "\" is a folder of another path");
        }
        for (size_t slash = key.find('/'); slash != std::string::npos; slash = key.find('/', slash + 1)) {
            if (fileKeys.count(key.substr(0, slash)) != 0) {
                return lineError(number, "the path \"" + file.path + "\" is below a file listed before");
            }
            folderKeys.insert(key.substr(0, slash));
        }
        fileKeys.insert(key);
        manifest.files.push_back(file);
    }
    if (number < 1 + headerLines) {
        return lineError(number, "the manifest ends before its header does");
    }
    return "";
}

int64_t feedBytes(const FeedManifest& manifest) {
    int64_t total = 0;
    for (const FeedFile& file : manifest.files) {
        total += file.size;
    }
    return total;
}
