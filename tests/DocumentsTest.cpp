#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "shell/LauncherState.h"
#include "update/ClientPath.h"
#include "update/Documents.h"

namespace {

const std::string DIGEST(64, 'a');

bool parse(const std::string& line, ManifestEntry* entry) { return parseManifestLine(line.c_str(), entry) == 1; }

std::string pathOf(const std::string& line) {
    ManifestEntry entry;
    if (!parse(line, &entry)) return "<rejected>";
    return entry.path;
}

TEST(ManifestLine, ReadsDigestSizeAndPath) {
    ManifestEntry entry;
    std::string digest = "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855";
    ASSERT_TRUE(parse(digest + " 18446744073709551615 data\\maps\\world.map", &entry));
    EXPECT_STREQ(digest.c_str(), entry.sha256);  // kept as written, capitals too
    EXPECT_EQ(18446744073709551615ull, entry.size);
    EXPECT_STREQ("data\\maps\\world.map", entry.path);

    // Any blanks or tabs separate the fields; leading white space is allowed.
    ASSERT_TRUE(parse(" \t" + DIGEST + "\t \t42 \t main.exe", &entry));
    EXPECT_EQ(42u, entry.size);
    EXPECT_STREQ("main.exe", entry.path);
}

TEST(ManifestLine, PathEndsAtCarriageReturnAndKeepsItsInnerBlanks) {
    EXPECT_EQ("a.txt", pathOf(DIGEST + " 1 a.txt\r\n"));
    EXPECT_EQ("my folder\\my file.bin", pathOf(DIGEST + " 1 my folder\\my file.bin\r"));
}

TEST(ManifestLine, RejectsLinesWithoutThreeFieldsOrA64CharacterDigest) {
    for (const std::string& line :
         {std::string(""), std::string("   \r"), DIGEST, DIGEST + " 12", DIGEST + " 12   \r\n", DIGEST + " size a.txt",
          DIGEST + " -1 a.txt", DIGEST + " 12a.txt", DIGEST + " 18446744073709551616 a.txt",
          std::string(63, 'a') + " 1 a.txt", std::string(65, 'a') + " 1 a.txt",
          "#" + std::string(63, 'a') + " 1 a.txt"}) {
        EXPECT_EQ("<rejected>", pathOf(line)) << line;
    }
    // Not examined beyond its length: such a digest simply never matches.
    EXPECT_EQ("a.txt", pathOf(std::string(64, 'z') + " 1 a.txt"));
}

// What Windows reads decides, not the spelling: every alias of a launcher
// file, every device and every name Windows would change is refused; the
// look-alikes are ordinary files.
TEST(ClientPath, RefusesWhatWindowsReadsAsAnotherFileOrADevice) {
    // clang-format off
    const struct {
        const char* path;
        int refusal;
    } cases[] = {
        {"\\windows\\a.dll", CLIENT_PATH_ABSOLUTE}, {"/etc/a", CLIENT_PATH_ABSOLUTE},
        {"C:\\a.dll", CLIENT_PATH_COLON}, {"main.exe:stream", CLIENT_PATH_COLON},
        {"data\\..\\..\\a.dll", CLIENT_PATH_PARENT}, {"data\\name..bin", CLIENT_PATH_PARENT},
        {"a\tb.txt", CLIENT_PATH_CONTROL}, {"a\037b", CLIENT_PATH_CONTROL},
        {"launcher.ini.", CLIENT_PATH_NAME_END}, {"launcher.ini ", CLIENT_PATH_NAME_END},
        {"dir.\\x", CLIENT_PATH_NAME_END}, {"./launcher.ini", CLIENT_PATH_DOT_NAME},
        {".\\launcher.ini", CLIENT_PATH_DOT_NAME}, {"sub\\.\\x", CLIENT_PATH_DOT_NAME},
        {"a//b", CLIENT_PATH_EMPTY_NAME}, {"a\\", CLIENT_PATH_EMPTY_NAME},
        {"CON", CLIENT_PATH_DEVICE}, {"nul.txt", CLIENT_PATH_DEVICE}, {"COM1", CLIENT_PATH_DEVICE},
        {"aux.dat", CLIENT_PATH_DEVICE}, {"sub\\PRN", CLIENT_PATH_DEVICE}, {"LPT1.log", CLIENT_PATH_DEVICE},
        {"com0.a.b", CLIENT_PATH_DEVICE}, {"nul .txt", CLIENT_PATH_DEVICE}, {"COM\xb9", CLIENT_PATH_DEVICE},
        {"lpt\xb2.txt", CLIENT_PATH_DEVICE}, {"x/com\xb3.bin", CLIENT_PATH_DEVICE}, {"conout$", CLIENT_PATH_DEVICE},
        {"x.part", CLIENT_PATH_PART}, {"sub\\y.PART", CLIENT_PATH_PART},
        {"launcher.ini", CLIENT_PATH_OWN_FILE}, {"LAUNCHER.Ini", CLIENT_PATH_OWN_FILE},
        {"orvellauncher.EXE", CLIENT_PATH_OWN_FILE}, {"OrvelLauncher.cache", CLIENT_PATH_OWN_FILE},
        {"OrvelLauncher.log", CLIENT_PATH_OWN_FILE}, {"mylauncher.EXE", CLIENT_PATH_OWN_FILE},
        // What a self-update sets aside and keeps, whatever the running launcher is called.
        {"mylauncher.exe.OLD", CLIENT_PATH_OWN_FILE}, {"OrvelLauncher.exe.old", CLIENT_PATH_OWN_FILE},
        {"orvellauncher.SelfUpdate", CLIENT_PATH_OWN_FILE}, {"OrvelLauncher.selfupdate.new\\x", CLIENT_PATH_OWN_FILE},
        // A folder named like an own file would block it for good.
        {"OrvelLauncher.cache\\x", CLIENT_PATH_OWN_FILE}, {"orvellauncher.LOG.new/x", CLIENT_PATH_OWN_FILE},
        {"launcher.ini\\a\\b", CLIENT_PATH_OWN_FILE}, {"MyLauncher.exe\\readme.txt", CLIENT_PATH_OWN_FILE},
        // Legal look-alikes.
        {"launcher.ini.bak", CLIENT_PATH_OK}, {"console.txt", CLIENT_PATH_OK}, {"nullable.dat", CLIENT_PATH_OK},
        {"com10.txt", CLIENT_PATH_OK}, {"sub\\auxiliary.cfg", CLIENT_PATH_OK}, {"OrvelLauncher.exe.txt", CLIENT_PATH_OK},
        {"MyLauncher.exe.old.txt", CLIENT_PATH_OK}, {"sub\\MyLauncher.exe.old", CLIENT_PATH_OK},
        {"sub\\launcher.ini", CLIENT_PATH_OK}, {"sub/OrvelLauncher.cache", CLIENT_PATH_OK}, {"x.part.bin", CLIENT_PATH_OK},
        {"data\\.hidden\\a.b", CLIENT_PATH_OK}, {"caf\xe9\\\xc3\xb1.txt", CLIENT_PATH_OK}, {"lpt.txt", CLIENT_PATH_OK},
        {"my folder\\my file.bin", CLIENT_PATH_OK}
    };
    // clang-format on
    for (const auto& c : cases) {
        EXPECT_EQ(c.refusal, clientPathRefusal(c.path, "MyLauncher.exe")) << c.path;
    }
    // The manifest reader applies the same rule, with the running launcher's own name.
    snprintf(launcherState.ownExeName, sizeof(launcherState.ownExeName), "MyLauncher.exe");
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " 48 mylauncher.exe\r\n"));
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " 48 launcher.ini.\r\n"));
    EXPECT_EQ("sub\\launcher.ini", pathOf(DIGEST + " 48 sub\\launcher.ini\r\n"));
    launcherState.ownExeName[0] = 0;
}

TEST(ManifestLine, CutsLongPathsTo259Characters) {
    std::string longPath = std::string(250, 'd') + "\\" + std::string(40, 'f');
    ManifestEntry entry;
    ASSERT_TRUE(parse(DIGEST + " 7 " + longPath, &entry));
    EXPECT_EQ(259u, strlen(entry.path));
    EXPECT_EQ(longPath.substr(0, 259), entry.path);

    // The rules look at what is kept: a colon past the cut does not count.
    ASSERT_TRUE(parse(DIGEST + " 7 " + std::string(259, 'x') + ":", &entry));
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " 7 " + std::string(258, 'x') + ":"));
}

// The items of a news text as "caption|headline" lines.
std::string news(const std::string& text) {
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back(0);
    NewsItem items[4];
    std::string shown;
    for (int i = 0, count = parseNewsItems(buffer.data(), items, 4); i < count; ++i) {
        shown += std::string(items[i].caption) + "|" + items[i].headline + "\n";
    }
    return shown;
}

TEST(News, SplitsAtTheFirstBarAndKeepsFourItemsOf95Bytes) {
    const struct {
        std::string text, shown;
    } cases[] = {
        {"Evento|Doble experiencia\n|solo titular\nsolo aviso|\na|b|c\n",
         "Evento|Doble experiencia\n|solo titular\nsolo aviso|\na|b|c\n"},
        // Lines without a bar are skipped; a carriage return ends the line.
        {"titulo sin barra\r\n\r\nA|uno\r\nsolo antes\r|despues\nB|dos\rresto|x", "A|uno\nB|dos\n"},
        {"", ""},
        {"\n\n\n", ""},
        {"1|a\n2|b\n3|c\n4|d\n5|e\n6|f\n", "1|a\n2|b\n3|c\n4|d\n"},
        {std::string(120, 'c') + "|" + std::string(96, 'h'), std::string(95, 'c') + "|" + std::string(95, 'h') + "\n"}};
    for (const auto& c : cases) EXPECT_EQ(c.shown, news(c.text)) << c.text;
}

}  // namespace
