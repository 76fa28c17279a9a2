#include "launcher_reading.hpp"

#include "check_text.hpp"
#include "value_checks.hpp"

#include "java.hpp"
#include "single_instance.hpp"

static const char configurationErrorBox[] = "the launcher shows the configuration-error box and starts nothing";

LauncherReading readAsLauncher(const std::string& configPath, const StartInputs& start) {
    LauncherReading reading{BootReading{}, BootLayout{false, {}, 0, {}, 0, ""}};
    reading.boot = readBootFile(configPath, start, [&reading](const ParsedXml& parsed) { reading.layout = bootLayoutOf(parsed); });
    return reading;
}

const BootItem* itemAt(const LauncherReading& reading, int index) {
    const std::vector<BootItem>& items = reading.layout.items;
    return index >= 0 && static_cast<size_t>(index) < items.size() ? &items[static_cast<size_t>(index)] : NULL;
}

const BootItem* valueItem(const LauncherReading& reading, const std::string& key) {
    std::map<std::string, int>::const_iterator found = reading.boot.valueItems.find(key);
    return found == reading.boot.valueItems.end() ? NULL : itemAt(reading, found->second);
}

const BootItem* optionalItem(const LauncherReading& reading, const BootError& failure, const std::string& key) {
    if (failure.failure == bootRead) {
        return valueItem(reading, key);
    }
    bool itemFailed = failure.failure == bootItemWithoutValue || failure.failure == bootValueHoldsNul;
    return itemFailed ? itemAt(reading, failure.item) : NULL;
}

bool layoutApplies(const LauncherReading& reading) {
    BootFailure failure = reading.boot.error.failure;
    return reading.layout.parsed && failure != bootValueHoldsNul;
}

void reportReadingFailure(BootFileReport& report, const LauncherReading& launcherReading, const std::string& appDir) {
    const BootError& reading = launcherReading.boot.error;
    const BootLayout& layout = launcherReading.layout;
    const BootItem* failing = itemAt(launcherReading, reading.item);
    if (reading.failure == bootFolderQuote) {
        const BootItem* java = valueItem(launcherReading, jop_java);
        addFinding(report, java != NULL ? java->valueLine : 0, BC116,
                   "the app folder " + inQuotes(appDir) + " holds a double quote, which no quoting of the java " +
                       "path can carry, so " + configurationErrorBox + "; move the app to a folder without " +
                       "\" in its name");
    } else if (reading.failure == bootCannotOpen || reading.failure == bootNotRegularFile) {
        addFinding(report, 0, BC101,
                   "cannot read the boot file (" + reading.message + "), so " + configurationErrorBox +
                       "; create it or make it readable");
    } else if ((reading.failure == bootNotXml || reading.failure == bootTooDeep) && reading.line > 0) {
        addFinding(report, reading.line, BC102,
                   "the XML reader stops here: " + reading.message + "; " + configurationErrorBox +
                       "; correct the file at this line");
    } else if (reading.failure == bootNoBoot) {
        long line = layout.topElements.empty() ? 0 : layout.topElements[0].line;
        std::string found = layout.topElements.empty() ? "" : " (the top-level element is <" + layout.topElements[0].name + ">)";
        addFinding(report, line, BC103,
                   "no top-level <boot> element" + found + ", so " + configurationErrorBox +
                       "; put the items inside <boot> ... </boot>");
    } else if (reading.failure == bootItemWithoutKey) {
        addFinding(report, failing != NULL ? failing->line : 0, BC104,
                   std::string("this <item> has no key attribute, and one such item anywhere in <boot> makes ") +
                       "the launcher reject the file: it shows the configuration-error box; add key=\"...\" or remove the item");
    } else if (reading.failure == bootItemWithoutValue && failing != NULL) {
        addFinding(report, failing->line, BC105,
                   "the item with key " + inQuotes(failing->key) + " has no value attribute, so " +
                       configurationErrorBox + " (also when a later item has one); add value=\"...\"");
    } else if (reading.failure == bootItemWithoutValue) {
        addFinding(report, 0, BC105, std::string("an item with a wanted key has no value attribute, so ") +
                                           configurationErrorBox + "; add value=\"...\"");
    } else {
        addFinding(report, 0, BC102,
                   "the launcher's reader refuses the file: " + reading.message + "; " + configurationErrorBox);
    }
}

void checkLayout(BootFileReport& report, const LauncherReading& reading) {
    const BootLayout& layout = reading.layout;
    if (layout.mismatchLine != 0) {
        addFinding(report, layout.mismatchLine, BC212,
                   "end tag </" + layout.mismatchName + "> does not match the element it closes; the reader " +
                       "accepts it, so the file may not say what you meant; write the matching end tag");
    }
    if (layout.topElements.size() > 1) {
        bool usedSeen = false;
        for (const TopElement& element : layout.topElements) {
            if (!usedSeen && element.line == layout.bootLine && element.name == "boot") {
                usedSeen = true;
            } else if (element.name == "boot") {
                addFinding(report, element.line, BC213,
                           "a second top-level <boot> is ignored: the launcher reads only the first one (line " +
                               std::to_string(layout.bootLine) + "); move its items into that one");
            } else {
                addFinding(report, element.line, BC213,
                           "the top-level element <" + element.name + "> is ignored: the launcher reads only " +
                               "<boot>; a boot file has that one top-level element");
            }
        }
    }
    for (const BootItem& item : layout.items) {
        if (!item.hasKey) {
            continue;
        }
        bool wanted = item.key == launcherArgsKey || item.key == singleInstanceKey;
        for (const std::string& key : bootKeys) {
            wanted = wanted || item.key == key;
        }
        std::string meant = wanted ? std::string() : probableKey(item.key);
        if (meant.empty()) {
            continue;
        }
        const BootItem* used = valueItem(reading, meant);
        std::string effect = used == NULL ? "; as it stands, " + meant + " is empty"
                                          : "; the item with key " + inQuotes(meant) + " on line " +
                                                std::to_string(used->line) + " is the one used";
        addFinding(report, item.keyLine, BC201,
                   "key " + inQuotes(item.key) + " is not read (keys are exact and case-sensitive)" + effect +
                       "; write key=" + inQuotes(meant));
    }
    for (const std::string& key : bootKeys) {
        const BootItem* last = valueItem(reading, key);
        for (const BootItem& item : layout.items) {
            if (last != NULL && item.hasKey && item.key == key && &item != last) {
                addFinding(report, item.line, BC202,
                           "key " + inQuotes(key) + " is given again on line " + std::to_string(last->line) +
                               ", and the last one wins (" + inQuotes(last->value) + "); remove the item you do not mean");
            }
        }
    }
}

