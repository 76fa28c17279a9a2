// Boot file → Java command line, through the real reader and assembly.
#include "base_win.hpp"
#include "boot_file_fixture.hpp"
#include "main.hpp"
#include "test_files.hpp"
#include "xml_util.hpp"

#include <boost/property_tree/exceptions.hpp>
#include <stdexcept>
#include <vector>

namespace {

std::string item(const std::string& key, const std::string& value) {
    return "<item key=\"" + key + "\" value=\"" + value + "\"/>";
}

std::string bootOf(const std::string& items) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<boot>" + items + "</boot>\n";
}

const std::string allSeven = item("java", "/usr/bin/java") + item("-Xmn", "16m") +
                             item("-Xms", "64m") + item("-Xmx", "256m") +
                             item("-cp", "lib/app.jar") + item("args", "-Da=1") +
                             item("main", "demo.Main");

struct CommandLineCase {
    const char* name;
    std::string content;
    std::string expected;
};

class BootFileToCommandLine : public BootFileTest {
protected:
    std::string commandLineOf(const std::string& content) {
        writeFile(dir / "boot.xml", content);
        readBootXml(path("boot.xml"));
        return javaCommandLine;
    }
};

TEST_F(BootFileToCommandLine, AssemblesTheCommandLineExactly) {
    const std::vector<CommandLineCase> cases = {
        {"all seven keys", bootOf(allSeven),
         "/usr/bin/java -Xmn16m -Xms64m -Xmx256m -cp lib/app.jar -Da=1 demo.Main"},
        {"keys in another order", bootOf(item("main", "M") + item("args", "A") + item("-cp", "C") +
                                         item("-Xmx", "X") + item("-Xms", "S") +
                                         item("-Xmn", "N") + item("java", "J")),
         "J -XmnN -XmsS -XmxX -cp C A M"},
        {"missing -Xmn keeps the bare option",
         bootOf(item("java", "J") + item("-Xms", "S") + item("-Xmx", "X") + item("-cp", "C") +
                item("args", "A") + item("main", "M")),
         "J -Xmn -XmsS -XmxX -cp C A M"},
        {"empty args leaves two blanks",
         bootOf(item("java", "J") + item("-Xmn", "N") + item("-Xms", "S") + item("-Xmx", "X") +
                item("-cp", "C") + item("args", "") + item("main", "M")),
         "J -XmnN -XmsS -XmxX -cp C  M"},
        {"no items at all", bootOf(""), " -Xmn -Xms -Xmx -cp   "},
        {"the later of two items wins", bootOf(allSeven + item("main", "other.Main")),
         "/usr/bin/java -Xmn16m -Xms64m -Xmx256m -cp lib/app.jar -Da=1 other.Main"},
        {"keys are case-sensitive", bootOf(item("java", "J") + item("Main", "M") + item("JAVA", "K")),
         "J -Xmn -Xms -Xmx -cp   "},
        {"application directory replaced twice in java",
         bootOf(item("java", "${APP_DIR}jre/bin/java${APP_DIR}") + item("main", "M")),
         "/opt/app/jre/bin/java/opt/app/ -Xmn -Xms -Xmx -cp   M"},
        {"parent directory token stands for the same directory",
         bootOf(item("java", "${PARENT_DIR}jre/bin/java") + item("main", "M")),
         "/opt/app/jre/bin/java -Xmn -Xms -Xmx -cp   M"},
        {"tokens outside java are left alone",
         bootOf(item("java", "J") + item("-cp", "${APP_DIR}lib/a.jar") +
                item("args", "-Dd=${PARENT_DIR}") + item("main", "M")),
         "J -Xmn -Xms -Xmx -cp ${APP_DIR}lib/a.jar -Dd=${PARENT_DIR} M"},
        {"java with blanks stays unquoted", bootOf(item("java", "/opt/my jre/java") + item("main", "M")),
         "/opt/my jre/java -Xmn -Xms -Xmx -cp   M"},
        {"quotes written in the file pass through",
         bootOf(item("java", "&quot;${APP_DIR}my jre/java&quot;") + item("main", "M")),
         "\"/opt/app/my jre/java\" -Xmn -Xms -Xmx -cp   M"},
        {"entities decoded, surrounding white space kept",
         bootOf(item("java", "J") + item("args", "  -Da=&lt;x&gt;&amp;&#x65E5;  ") + item("main", "M")),
         "J -Xmn -Xms -Xmx -cp    -Da=<x>&\xE6\x97\xA5   M"},
        {"comments, other elements, boot attributes and item content are ignored",
         "<!-- app --><boot version=\"2\"><!-- heap -->" + item("java", "J") +
             "<note key=\"main\" value=\"wrong\"/>text<item key=\"main\" value=\"M\">ignored</item></boot>",
         "J -Xmn -Xms -Xmx -cp   M"},
        {"UTF-8 byte-order mark skipped", "\xEF\xBB\xBF" + bootOf(item("java", "J")),
         "J -Xmn -Xms -Xmx -cp   "},
        {"the first boot element answers", bootOf(item("java", "first")) + bootOf(item("java", "second")),
         "first -Xmn -Xms -Xmx -cp   "},
    };
    for (const CommandLineCase& c : cases) {
        EXPECT_EQ(commandLineOf(c.content), c.expected) << c.name;
    }
}

TEST_F(BootFileToCommandLine, ReaderLogsThePathAlone) {
    writeFile(dir / "boot.xml", bootOf(allSeven));
    testing::internal::CaptureStdout();
    readConfigXml(path("boot.xml"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), path("boot.xml") + "\n");
}

TEST_F(BootFileToCommandLine, BadFilesThrowAndKeepThePreviousCommandLine) {
    const std::vector<std::pair<const char*, std::string>> cases = {
        {"empty file", ""},
        {"only blanks", "   \n\t "},
        {"only a declaration and a comment", "<?xml version=\"1.0\"?><!-- nothing -->"},
        {"no boot element", "<config>" + allSeven + "</config>"},
        {"unterminated element", "<boot>" + allSeven},
        {"unterminated attribute", "<boot><item key=\"java value=\"J\"/></boot>"},
        {"attribute without =", "<boot><item key \"java\" value=\"J\"/></boot>"},
        {"unterminated comment", "<boot><!-- " + allSeven + "</boot>"},
        {"text outside the root", "junk<boot>" + allSeven + "</boot>"},
        {"item without key after all wanted items", bootOf(allSeven + "<item value=\"x\"/>")},
        {"wanted item without value", bootOf(allSeven + "<item key=\"-cp\"/>")},
        {"first of two mains has no value",
         bootOf(item("java", "J") + "<item key=\"main\"/>" + item("main", "M"))},
    };
    for (const auto& c : cases) {
        javaCommandLine = "previous";
        EXPECT_THROW(commandLineOf(c.second), std::exception) << c.first;
        EXPECT_EQ(javaCommandLine, "previous") << c.first;
    }
}

TEST_F(BootFileToCommandLine, MissingFileThrows) {
    EXPECT_THROW(readBootXml(path("no-such-dir/boot.xml")), std::exception);
    EXPECT_EQ(javaCommandLine, "previous");
}

TEST_F(BootFileToCommandLine, UnwantedItemWithoutValueIsFine) {
    EXPECT_EQ(commandLineOf(bootOf("<item key=\"comment\"/>" + item("java", "J"))),
              "J -Xmn -Xms -Xmx -cp   ");
}

// getXmlValue looks the attributes up itself; what it reads and the errors it
// throws must stay those of the tree's own path lookup, whose texts bootcheck
// reports.
TEST_F(BootFileToCommandLine, LookupFailuresNameTheMissingNode) {
    const struct {
        const char* name;
        std::string content;
        std::string error;
    } cases[] = {
        {"no boot element", "<config>" + allSeven + "</config>", "No such node (boot)"},
        {"item without key", bootOf("<item value=\"x\"/>"), "No such node (<xmlattr>.key)"},
        {"item without attributes", bootOf("<item/>"), "No such node (<xmlattr>.key)"},
        {"wanted item without value", bootOf("<item key=\"main\"/>"),
         "No such node (<xmlattr>.value)"},
    };
    for (const auto& c : cases) {
        writeFile(dir / "boot.xml", c.content);
        boost::property_tree::ptree pt = readConfigXml(path("boot.xml"));
        try {
            getXmlValue(pt, "main");
            ADD_FAILURE() << c.name << ": no exception";
        } catch (const boost::property_tree::ptree_bad_path& e) {
            EXPECT_EQ(std::string(e.what()), c.error) << c.name;
        }
    }
}

TEST_F(BootFileToCommandLine, RepeatedAttributeReadsAsThePathLookupReadsIt) {
    writeFile(dir / "boot.xml",
              bootOf("<item key=\"main\" key=\"java\" value=\"first\" value=\"second\"/>"));
    boost::property_tree::ptree pt = readConfigXml(path("boot.xml"));
    const boost::property_tree::ptree& item = pt.get_child("boot").get_child("item");
    ASSERT_EQ(item.get<std::string>("<xmlattr>.key"), "main");
    EXPECT_EQ(getXmlValue(pt, "main"), item.get<std::string>("<xmlattr>.value"));
    EXPECT_EQ(getXmlValue(pt, "java"), "");
}

}  // namespace
