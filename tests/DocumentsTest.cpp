#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

#include "shell/LauncherState.h"
#include "update/Documents.h"

namespace {

const std::string DIGEST(64, 'a');

bool parse(const std::string& line, ManifestEntry* entry) {
    return parseManifestLine(line.c_str(), entry) == 1;
}

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

TEST(ManifestLine, PathEndsAtCarriageReturnAndKeepsItsBlanks) {
    EXPECT_EQ("a.txt", pathOf(DIGEST + " 1 a.txt\r\n"));
    EXPECT_EQ("a.txt", pathOf(DIGEST + " 1 a.txt\r"));
    EXPECT_EQ("my folder\\my file.bin", pathOf(DIGEST + " 1 my folder\\my file.bin"));
    EXPECT_EQ("trailing  ", pathOf(DIGEST + " 1 trailing  "));
    EXPECT_EQ("trailing ", pathOf(DIGEST + " 1 trailing \r\n"));
}

TEST(ManifestLine, DigestMustBeExactly64CharactersOfAnyKind) {
    EXPECT_EQ("<rejected>", pathOf(std::string(63, 'a') + " 1 a.txt"));
    EXPECT_EQ("<rejected>", pathOf(std::string(65, 'a') + " 1 a.txt"));
    // Not examined beyond its length: such a digest simply never matches.
    EXPECT_EQ("a.txt", pathOf(std::string(64, 'z') + " 1 a.txt"));
}

TEST(ManifestLine, RejectsLinesWithoutAllThreeFields) {
    EXPECT_EQ("<rejected>", pathOf(""));
    EXPECT_EQ("<rejected>", pathOf("   \r"));
    EXPECT_EQ("<rejected>", pathOf(DIGEST));
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " 12"));
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " 12   \r\n"));
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " size a.txt"));
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " -1 a.txt"));
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " 12a.txt"));
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " 18446744073709551616 a.txt"));  // past 64 bits
}

TEST(ManifestLine, RejectsPathsThatLeaveTheClientFolder) {
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " 1 \\windows\\a.dll"));
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " 1 /etc/a"));
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " 1 C:\\a.dll"));
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " 1 main.exe:stream"));
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " 1 data\\..\\..\\a.dll"));
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " 1 data\\name..bin"));  // ".." anywhere
    EXPECT_EQ("data\\.hidden\\a.b", pathOf(DIGEST + " 1 data\\.hidden\\a.b"));
}

TEST(ManifestLine, RejectsControlBytesButKeepsHighBytes) {
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " 1 a\tb.txt"));
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " 1 a\x01" "b.txt"));
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " 1 a\x1f" "b.txt"));
    EXPECT_EQ("caf\xe9\\\xc3\xb1.txt", pathOf(DIGEST + " 1 caf\xe9\\\xc3\xb1.txt"));
}

TEST(ManifestLine, RejectsTheLaunchersOwnFilesOnlyAtTheTop) {
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " 1 OrvelLauncher.exe"));
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " 1 orvellauncher.EXE"));
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " 1 launcher.ini"));
    EXPECT_EQ("<rejected>", pathOf(DIGEST + " 1 LAUNCHER.Ini\r\n"));
    EXPECT_EQ("sub\\launcher.ini", pathOf(DIGEST + " 1 sub\\launcher.ini"));
    EXPECT_EQ("sub\\OrvelLauncher.exe", pathOf(DIGEST + " 1 sub\\OrvelLauncher.exe"));
    EXPECT_EQ("launcher.ini.bak", pathOf(DIGEST + " 1 launcher.ini.bak"));
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

std::vector<NewsItem> news(std::string text, int capacity = 4) {
    std::vector<NewsItem> items(capacity);
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back(0);
    int count = parseNewsItems(buffer.data(), items.data(), capacity);
    items.resize(count);
    return items;
}

TEST(News, SplitsAtTheFirstBar) {
    auto items = news("Evento|Doble experiencia\n|solo titular\nsolo aviso|\na|b|c\n");
    ASSERT_EQ(4u, items.size());
    EXPECT_STREQ("Evento", items[0].caption);
    EXPECT_STREQ("Doble experiencia", items[0].headline);
    EXPECT_STREQ("", items[1].caption);
    EXPECT_STREQ("solo titular", items[1].headline);
    EXPECT_STREQ("solo aviso", items[2].caption);
    EXPECT_STREQ("", items[2].headline);
    EXPECT_STREQ("a", items[3].caption);
    EXPECT_STREQ("b|c", items[3].headline);
}

TEST(News, SkipsLinesWithoutABarAndCutsAtCarriageReturn) {
    auto items = news("titulo sin barra\r\n\r\nA|uno\r\nsolo antes\r|despues\nB|dos\rresto|x");
    ASSERT_EQ(2u, items.size());
    EXPECT_STREQ("A", items[0].caption);
    EXPECT_STREQ("uno", items[0].headline);
    EXPECT_STREQ("B", items[1].caption);
    EXPECT_STREQ("dos", items[1].headline);
    EXPECT_TRUE(news("").empty());
    EXPECT_TRUE(news("\n\n\n").empty());
}

TEST(News, StopsAfterFourItemsWithoutReadingFurther) {
    std::string text = "1|a\n2|b\n3|c\n4|d\n5|e\n6|f\n";
    std::vector<char> buffer(text.begin(), text.end());
    buffer.push_back(0);
    NewsItem items[4];
    ASSERT_EQ(4, parseNewsItems(buffer.data(), items, 4));
    EXPECT_STREQ("4", items[3].caption);
    // Lines after the fourth item are left as they were, line feeds included.
    EXPECT_EQ(0, strcmp("5|e\n6|f\n", buffer.data() + 16));
}

TEST(News, CutsEachFieldTo95Bytes) {
    std::string caption(120, 'c'), headline(96, 'h');
    auto items = news(caption + "|" + headline + "\n");
    ASSERT_EQ(1u, items.size());
    EXPECT_EQ(std::string(95, 'c'), items[0].caption);
    EXPECT_EQ(std::string(95, 'h'), items[0].headline);
    items = news(std::string(95, 'x') + "|" + std::string(95, 'y'));
    EXPECT_EQ(std::string(95, 'x'), items[0].caption);
    EXPECT_EQ(std::string(95, 'y'), items[0].headline);
}

TEST(News, ParseNewsPublishesItemsThenCount) {
    memset(launcherState.newsItems, 0, sizeof(launcherState.newsItems));
    launcherState.newsCount = 0;
    char text[] = "Parche|Nueva zona\nTorneo|Sabado 20 hs\n";
    parseNews(text);
    EXPECT_EQ(2, launcherState.newsCount);
    EXPECT_STREQ("Nueva zona", launcherState.newsItems[0].headline);
    EXPECT_STREQ("Torneo", launcherState.newsItems[1].caption);
    launcherState.newsCount = 0;
}

}  // namespace
