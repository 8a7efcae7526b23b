#include <gtest/gtest.h>

#include <stdio.h>
#include <time.h>

#include <filesystem>
#include <string>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "tests/TestFiles.h"
#include "tools/publish/Commands.h"
#include "tools/publish/Publish.h"
#include "update/BlockIndex.h"
#include "update/Directives.h"
#include "update/Download.h"

namespace {

namespace fs = std::filesystem;

const std::string SHA_EMPTY = "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";
const std::string SHA_ABC = "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad";
const std::string FOX = "The quick brown fox jumps over the lazy dog";
const std::string SHA_FOX = "d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592";
// 3 MiB + 7 bytes of (i * 7 + i / 65536) & 255, hashed by Python's hashlib.
const std::string SHA_BIG = "e7fe3527ff53f9045bafbd23efff31a5aa532d4487d0045ec49470003968a542";

std::string bigContent() {
    std::string bytes(3 * 1048576 + 7, 0);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = (char)((i * 7 + i / 65536) & 255);
    return bytes;
}

std::string refusalOf(const std::string& path) {
    char reason[PUBLISH_REASON_SIZE];
    if (!findPathRefusal(path.c_str(), PUBLISH_DEFAULT_CLIENT_DIR_LENGTH, reason, sizeof(reason))) return "";
    return reason;
}

struct ToolRun {
    int status;
    std::string out;
    std::string err;
};

struct PublishFolder : ::testing::Test {
    std::string root = makeTempDir();
    std::string client = joinPath(root, "client");

    void SetUp() override { fs::create_directories(client); }  // removed with root when the program ends

    std::string at(const std::string& relative) const { return joinPath(client, relative); }

    void put(const std::string& relative, const std::string& bytes) const {
        fs::create_directories(fs::path(at(relative)).parent_path());
        writeFile(at(relative), bytes);
    }

    ToolRun runTool(std::vector<std::string> args) const {
        std::string outPath = joinPath(root, "stdout"), errPath = joinPath(root, "stderr");
        FILE* out = fopen(outPath.c_str(), "wb");
        FILE* err = fopen(errPath.c_str(), "wb");
        if (!out || !err) abort();
        args.insert(args.begin(), "orvel-publish");
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(&arg[0]);
        int status = runPublish((int)argv.size(), argv.data(), out, err);
        fclose(out);
        fclose(err);
        return ToolRun{status, readFile(outPath), readFile(errPath)};
    }
};

// The tool's own refusals, one row each, then one row for each of the launcher's
// shared path rules (tests/DocumentsTest.cpp covers those in full): "" is accepted.
// A folder that leaves less than 60 characters for the client folder's path is
// accepted with a warning (Windows' CreateDirectoryA makes at most 247).
TEST(PublishPathRules, RefusesWhatAWindowsClientCannotHoldOrTheLauncherSkips) {
    const std::string deep = "data/" + std::string(181, 'd');  // 186 characters: leaves 60
    // clang-format off
    const std::pair<std::string, std::string> cases[] = {
        {"/etc/passwd", "absolute"}, {" lead.txt", "begins with a blank"}, {"a\tb", "control character 0x09"},
        {"caf\xc3\xa9.txt", "non-ASCII byte 0xc3"}, {"data/../x.dll", "\"..\""},
        {"data/a\\b.bin", "'\\' inside a name"}, {"a<b", "'<'"}, {"a>b", "'>'"}, {"a:b", "':'"}, {"a\"b", "'\"'"},
        {"a|b", "'|'"}, {"a?b", "'?'"}, {"a*b", "'*'"},
        {"data/readme.", "ends in a dot or a blank"}, {"./x", "\".\" as a name"}, {"a//b", "empty name"},
        {"deep/Nul/x.bin", "reserved device name"}, {"x.part", "temporary download"}, {"LAUNCHER.INI", "own file"},
        {"main.exe", ""}, {"data/my file.bin", ""}, {".hidden/a.b", ""}, {"sub/launcher.ini", ""},
        {"x~y!@#$%^&()[]{}=+,;'`.txt", ""}, {deep + "/x.bin", ""}, {deep + "e/x.bin", "warning: folder of 187"}
    };
    // clang-format on
    for (const auto& c : cases) {
        std::string verdict = refusalOf(c.first);
        size_t folder = deepFolderLength(c.first.c_str());
        if (verdict.empty() && folder) verdict = "warning: folder of " + std::to_string(folder);
        bool expected = !c.second.empty() ? verdict.find(c.second) != std::string::npos : verdict.empty();
        EXPECT_TRUE(expected) << c.first << ": \"" << verdict << "\"";
    }
}

TEST(PublishPathRules, LengthLimitIsWhatTheLaunchersPartPathAllows) {
    const char* folder = "C:\\Program Files (x86)\\Orvel Online\\Game";  // the assumed 40 characters
    char target[LOCAL_PATH_SIZE], part[LOCAL_PATH_SIZE];
    std::string longest = "data/" + std::string(213 - 5, 'x');
    std::string manifestLongest = "data\\" + std::string(213 - 5, 'x');
    EXPECT_EQ("", refusalOf(longest));
    EXPECT_TRUE(buildJobPaths(folder, manifestLongest.c_str(), target, part));
    EXPECT_NE(std::string::npos, refusalOf(longest + "y").find("214 characters long; at most 213"));
    EXPECT_FALSE(buildJobPaths(folder, (manifestLongest + "y").c_str(), target, part));
}

TEST(PublishPathRules, SkipsTheLaunchersFilesAndTheServerDocuments) {
    for (const char* path : {"OrvelLauncher.exe", "orvellauncher.EXE", "launcher.ini", "OrvelLauncher.log",
                             "manifest.txt", "News.txt", "manifest.txt.SIG", "main.exe.part", "data/maps/a.map.PART"}) {
        EXPECT_NE(nullptr, skippedPathNote(path)) << path;
    }
    for (const char* path : {"sub/OrvelLauncher.exe", "sub/launcher.ini", "sub/OrvelLauncher.cache", "data/news.txt",
                             "data/manifest.txt", "data/manifest.txt.sig", "part", "a.parts", "main.exe"}) {
        EXPECT_EQ(nullptr, skippedPathNote(path)) << path;
    }
}

TEST_F(PublishFolder, ManifestOfAClientFolderRoundTripsThroughTheLaunchersParser) {
    put("main.exe", "abc");
    put("data/maps/world 1.map", FOX);
    put("data/empty.bin", "");
    put("data/big.pak", bigContent());
    put("data0.txt", "abc");  // '0' sorts before '\' but after '/'
    put("Data.pak", "");
    put("sub/launcher.ini", "abc");
    fs::create_directories(at("empty/deeper"));
    // Never listed: the launcher's own files, its leftovers, the server's documents.
    put("OrvelLauncher.exe", "MZ");
    put("launcher.ini", "[Launcher]");
    put("OrvelLauncher.cache", "cache");
    put("news.txt", "a|b");
    put("data/big.pak.part", "half");

    ToolRun run = runTool({"manifest", client});
    ASSERT_EQ(0, run.status) << run.err;
    std::string text = readFile(at("manifest.txt"));
    EXPECT_EQ(SHA_EMPTY + " 0 Data.pak\r\n" + SHA_ABC + " 3 data0.txt\r\n" + SHA_BIG + " 3145735 data\\big.pak\r\n" +
                  SHA_EMPTY + " 0 data\\empty.bin\r\n" + SHA_FOX + " 43 data\\maps\\world 1.map\r\n" + SHA_ABC +
                  " 3 main.exe\r\n" + SHA_ABC + " 3 sub\\launcher.ini\r\n",
              text);
    for (const char* skipped :
         {"OrvelLauncher.exe", "launcher.ini", "OrvelLauncher.cache", "news.txt", "data/big.pak.part"}) {
        EXPECT_NE(std::string::npos, run.err.find(std::string("skipped: ") + skipped)) << run.err;
    }
    EXPECT_NE(std::string::npos, run.err.find(": 7 files, 3145787 bytes (5 skipped)")) << run.err;
    EXPECT_EQ(std::string::npos, run.err.find('\r')) << "progress shown off a terminal";
    EXPECT_FALSE(fileExists(at("manifest.txt.part")));

    ToolRun verified = runTool({"verify", client});
    EXPECT_EQ(0, verified.status) << verified.out;
    EXPECT_NE(std::string::npos, verified.out.find("all 7 files match (3145787 bytes)")) << verified.out;
}

TEST_F(PublishFolder, PathTooLongForTheClientFolderIsRefusedAndADeepFolderNamedOnce) {
    put("data/" + std::string(95, 'x'), "");  // 100 characters
    EXPECT_EQ(0, runTool({"manifest", client, "-o", "-", "--client-dir-length", "153"}).status);
    ToolRun refused = runTool({"manifest", client, "--client-dir-length", "154"});
    EXPECT_EQ(1, refused.status);
    EXPECT_NE(std::string::npos, refused.err.find(": 100 characters long; at most 99 fit under a 154-character"))
        << refused.err;

    const std::string deep = "data/" + std::string(190, 'd');
    put(deep + "/a.bin", "");
    put(deep + "/b.bin", "");
    ToolRun warned = runTool({"manifest", client, "-o", "-"});
    EXPECT_EQ(0, warned.status);
    size_t warning = warned.err.find("warning: " + deep + "/ is 195 characters long");
    EXPECT_NE(std::string::npos, warning) << warned.err;
    EXPECT_EQ(std::string::npos, warned.err.find("warning", warning + 1)) << warned.err;
}

#ifndef _WIN32
// Entries that only a Linux folder can hold: each refused by name, and no manifest written.
TEST_F(PublishFolder, RefusesEachBadEntryByNameAndWritesNoManifest) {
    put("good.bin", "abc");
    put("caf\xc3\xa9.txt", "bad");
    put("tab\tname", "bad");
    put("Data.bin", "1");
    put("data.bin", "2");
    put("maps", "a file");
    put("Maps/world.map", "a map");
    fs::create_symlink("good.bin", at("link.bin"));
    ASSERT_EQ(0, mkfifo(at("pipe").c_str(), 0600));
    writeFile(at("manifest.txt"), "old");

    ToolRun run = runTool({"manifest", client});
    EXPECT_EQ(1, run.status);
    for (const char* refusal :
         {"refused: caf\xc3\xa9.txt: non-ASCII byte 0xc3", "refused: tab\\x09name: control character 0x09",
          "refused: data.bin: the same file as Data.bin on Windows",
          "refused: maps: a file, but Maps/world.map needs a folder", "refused: link.bin: a symbolic link",
          "refused: pipe: not a regular file", "6 file(s) refused"}) {
        EXPECT_NE(std::string::npos, run.err.find(refusal)) << refusal << "\n" << run.err;
    }
    EXPECT_EQ(std::string::npos, run.err.find("good.bin")) << run.err;
    EXPECT_EQ("old", readFile(at("manifest.txt")));
    EXPECT_FALSE(fileExists(at("manifest.txt.part")));
}
#endif

TEST_F(PublishFolder, VerifyReportsEveryKindOfProblemWithItsPath) {
    put("a.bin", "abc");
    put("b.bin", "hello");
    put("c.bin", "12345");
    put("d/e.bin", FOX);
    std::string manifest = joinPath(root, "manifest.txt");  // kept outside, as the server keeps it
    ASSERT_EQ(0, runTool({"manifest", client, "-o", manifest}).status);
    std::string text = readFile(manifest);
    writeFile(manifest, text + std::string(64, 'f') + " 1 ..\\escape.bin\r\n" + "\r\n" + SHA_ABC + " 3 D\\E.BIN\r\n" +
                            std::string(64, 'g') + " 3 g.bin\r\n");
    fs::remove(at("a.bin"));
    writeFile(at("b.bin"), "hell");
    writeFile(at("c.bin"), "12346");

    ToolRun run = runTool({"verify", client, "--manifest", manifest});
    EXPECT_EQ(1, run.status);
    const char* const expected[] = {
        "missing: a.bin (line 1)",
        "wrong size: b.bin: the manifest says 5 bytes, the file has 4 (line 2)",
        "wrong digest: c.bin: the manifest says 5994471abb01112afcc18159f6cc74b4f511b99806da59b3caf5a9c173cacfc5, "
        "the file has 34d128f5b3dede622e107438fbefabdf0519ebab21ac7b6f2075f974d09ce524",
        "line 5: the launcher rejects this line: \"ffff",
        "line 7: D\\E.BIN is listed again (first on line 4, letter case aside)",
        "line 8: the digest of g.bin is not 64 hexadecimal digits",
        ": 6 problem(s)"};
    for (const char* message : expected) EXPECT_NE(std::string::npos, run.out.find(message)) << message;
    EXPECT_EQ(std::string::npos, run.out.find("e.bin (line")) << run.out;
    EXPECT_EQ(std::string::npos, run.out.find("line 6")) << "a blank line is no problem";
}

TEST_F(PublishFolder, CheckNewsReportsWhatTheWindowLosesAndShowsWhatItKeeps) {
    const std::string c95(95, 'C'), h95(95, 'H'), emptyNote = "(the file is empty or holds only blank lines)";
    const struct {
        std::string text;
        int status;
        std::vector<std::string> found;
        std::string absent;
    } cases[] = {
        {"Novedades|Servidor abierto\r\n",
         0,
         {"The window shows:\n  1. Novedades | Servidor abierto\n", "the window shows all 1 item(s) as written"},
         "problem"},
        {"Novedades|Servidor abierto\r\njust text without a bar\r\n" + c95 + "cut|short\r\nshort|" + h95 +
             "lost\r\n\r\nEvento|Doble XP\r\nExtra|never shown\r\n",
         1,
         {"line 2: no \"|\"; the launcher ignores this line: \"just text without a bar\"",
          "line 3: the caption is 98 bytes; the window shows the first 95: \"" + c95 + "\" and cuts \"cut\"",
          "line 4: the headline is 99 bytes; the window shows the first 95: \"" + h95 + "\" and cuts \"lost\"",
          "line 7: past the fourth item; never shown: \"Extra|never shown\"",
          "The window shows:\n  1. Novedades | Servidor abierto\n  2. " + c95 + " | short\n  3. short | " + h95 +
              "\n  4. Evento | Doble XP\n",
          ": 4 problem(s)"},
         "line 5"},  // a blank line is no problem
        // A lone CR hides the rest of its line; a NUL hides the rest of the file.
        {"Uno|a\rDos|b\nTres|c",
         1,
         {"line 1: the text after a carriage return is ignored: \"Dos|b\"", "  1. Uno | a\n  2. Tres | c\n"},
         "Dos | b"},
        {std::string("Uno|a\r\nDos|b\0Tres|c\r\n", 21),
         1,
         {"a NUL byte at offset 12; the launcher reads nothing after it"},
         "Tres"},
        {"", 1, {emptyNote, "The window shows no news."}, "  1."},
        {"\r\n\r\n", 1, {emptyNote, "The window shows no news."}, "  1."},
        {"  \n", 1, {emptyNote, "The window shows no news."}, "  1."}};
    for (const auto& c : cases) {
        put("news.txt", c.text);
        ToolRun run = runTool({"check-news", at("news.txt")});
        EXPECT_EQ(c.status, run.status) << c.text;
        for (const std::string& part : c.found) {
            EXPECT_NE(std::string::npos, run.out.find(part)) << part << "\n" << run.out;
        }
        EXPECT_EQ(std::string::npos, run.out.find(c.absent)) << c.absent << "\n" << run.out;
    }
}

TEST_F(PublishFolder, CommandLine) {
    ToolRun help = runTool({"--help"});
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(0u, help.out.find("usage: orvel-publish")) << help.out;

    const std::vector<std::string> wrong[] = {{"publish-everything"},
                                              {},
                                              {"manifest"},
                                              {"manifest", client, "-o"},
                                              {"manifest", client, "--client-dir-length", "40x"},
                                              {"manifest", client, "--client-dir-length", "253"},
                                              {"manifest", client, client},
                                              {"verify", client, "-o", "x"},
                                              {"verify", client, "--key", "x.key"},
                                              {"manifest", client, "-o", "-", "--key", "x.key"},
                                              {"sign", client},
                                              {"keygen"},
                                              {"release", client},
                                              {"release", client, root, "--release", "0"},
                                              {"release", client, root, "--expires-days", "3651"},
                                              {"prune", root},
                                              {"prune", root, "--keep", "0"},
                                              {"verify", client, "--no-paths"}};
    for (const auto& args : wrong) EXPECT_EQ(2, runTool(args).status) << ::testing::PrintToString(args);

    ToolRun missing = runTool({"manifest", joinPath(root, "no-such-folder")});
    EXPECT_EQ(1, missing.status);
    EXPECT_NE(std::string::npos, missing.err.find("cannot list the folder")) << missing.err;
    EXPECT_EQ(1, runTool({"verify", client}).status);  // no manifest.txt there
    EXPECT_EQ(1, runTool({"check-news", joinPath(root, "no-news.txt")}).status);
}

// Two releases into one OUT: numbered 1 and 2, unchanged files sharing one
// object, directives that the launcher's reader takes back; prune --keep 1
// removes only what release 2 no longer lists. A lower number, a client folder
// in the store's place and a damaged object are refused.
TEST_F(PublishFolder, ReleasesShareTheStoreAndPruneKeepsWhatTheLastOneLists) {
    const std::string out = joinPath(root, "out"), news = joinPath(root, "news.txt");
    const std::string launcher = joinPath(root, "OrvelLauncher-2.exe"), manifest = joinPath(out, "manifest.txt");
    auto object = [&](const std::string& sha) { return joinPath(out, "objects/" + sha.substr(0, 2) + "/" + sha); };
    put("main.exe", "abc");
    put("data/fox.bin", FOX);
    put("data/big.bin", bigContent());
    put("Objects/a.bin", "");
    ToolRun clash = runTool({"release", client, out});
    EXPECT_NE(std::string::npos, clash.err.find("Objects/a.bin: at its path it would land in the store")) << clash.err;
    EXPECT_EQ(0, runTool({"release", client, out, "--no-paths"}).status);  // the first release
    EXPECT_FALSE(fileExists(joinPath(out, "main.exe")));
    fs::remove_all(at("Objects"));

    fs::remove(at("data/fox.bin"));  // replaced, not written into: the store links the old file
    put("data/fox.bin", "new fox");
    fs::remove(at("data/big.bin"));
    put("data/big.bin", bigContent().replace(5, 1, "!"));
    writeFile(news, "Novedades|Servidor abierto\r\n");
    writeFile(launcher, "MZ build B");
    ToolRun second = runTool({"release", client, out, "--expires-days", "30", "--news", news, "--launcher", launcher});
    ASSERT_EQ(0, second.status) << second.err;
    std::string text = readFile(manifest);
    ManifestDirectives read;
    readManifestDirectives(text.data(), text.size(), &read);
    EXPECT_EQ(0, read.malformed) << text;
    EXPECT_EQ(2u, read.release);
    EXPECT_TRUE(read.objects && read.hasExpires && read.hasLauncher && !read.hasSignature);
    // A block index beside each object of 1 MiB or more, and only there.
    EXPECT_TRUE(read.hasBlocks && read.blockSize == 16384 && read.blockMinSize == 1048576);
    std::string bigSha = text.substr(text.find(" 3145735 data\\big.bin") - 64, 64);
    std::string index = readFile(object(bigSha) + ".blocks");
    BlockIndex blocks;
    EXPECT_TRUE(readBlockIndex(index.data(), index.size(), 3145735, 16384, bigSha.c_str(), &blocks));
    EXPECT_TRUE(fileExists(object(SHA_BIG) + ".blocks"));
    EXPECT_FALSE(fileExists(object(SHA_FOX) + ".blocks"));
    EXPECT_NEAR((double)(time(nullptr) + 30 * 86400), (double)read.expires, 3600.0);
    EXPECT_EQ(readFile(launcher), readFile(object(read.launcherSha256)));
    // The file lines are the manifest command's, after the directives.
    size_t lines = 0;
    while (text[lines] == '#') lines = text.find('\n', lines) + 1;
    EXPECT_EQ(runTool({"manifest", client, "-o", "-"}).out, text.substr(lines));
    EXPECT_EQ(readFile(news), readFile(joinPath(out, "news.txt")));
    EXPECT_EQ("new fox", readFile(joinPath(out, "data/fox.bin")));
    EXPECT_TRUE(sameLocalFile(object(SHA_ABC).c_str(), at("main.exe").c_str()));  // one object, linked, kept
    EXPECT_LT(second.out.find("objects/"), second.out.find("manifest.txt")) << second.out;
    EXPECT_LT(second.out.find("manifest.txt"), second.out.find("news.txt")) << second.out;

    ToolRun pruned = runTool({"prune", out, "--keep", "1"});
    EXPECT_EQ(0, pruned.status) << pruned.err;
    EXPECT_FALSE(fileExists(object(SHA_FOX)) || fileExists(object(SHA_EMPTY)) ||
                 fileExists(object(SHA_BIG) + ".blocks"));
    EXPECT_TRUE(fileExists(object(SHA_ABC)) && fileExists(object(read.launcherSha256)) &&
                fileExists(object(bigSha) + ".blocks"));
    EXPECT_NE(std::string::npos, pruned.out.find("3 object(s) and 1 block index(es) removed, 3148930 bytes"))
        << pruned.out;

    ToolRun lower = runTool({"release", client, out, "--release", "2"});
    EXPECT_EQ(1, lower.status);
    EXPECT_NE(std::string::npos, lower.err.find("release 2 is not above the last release")) << lower.err;
    EXPECT_EQ(text, readFile(manifest));

    fs::remove(object(SHA_ABC));
    writeFile(object(SHA_ABC), "abd");
    writeFile(object(bigSha) + ".blocks", index.replace(100, 1, "?"));
    ToolRun damaged = runTool({"verify", out});
    EXPECT_NE(std::string::npos, damaged.out.find("wrong digest: objects/ba/" + SHA_ABC)) << damaged.out;
    EXPECT_NE(std::string::npos, damaged.out.find("wrong block index (not its object's): objects/" +
                                                  bigSha.substr(0, 2) + "/" + bigSha + ".blocks"))
        << damaged.out;
    ToolRun refused = runTool({"release", client, out});
    EXPECT_NE(std::string::npos, refused.err.find(SHA_ABC + " is in the store but its bytes do not match"))
        << refused.err;
    fs::remove(object(SHA_ABC));
    writeFile(object(SHA_ABC), "abc");
    refused = runTool({"release", client, out});
    EXPECT_NE(std::string::npos, refused.err.find(bigSha + ".blocks is in the store but does not match"))
        << refused.err;
    EXPECT_EQ(text, readFile(manifest));
}

// The progress line of long work: files, MiB and the speed so far.
TEST(PublishProgressLine, ShowsFilesBytesAndSpeed) {
    PublishProgress progress = {};
    progress.action = "hashing";
    progress.fileCount = 40;
    progress.doneFiles = 3;
    progress.byteCount = 2048ull * 1048576;
    progress.doneBytes = 170ull * 1048576 + 524288;
    progress.startMs = 1000;
    char line[PUBLISH_PROGRESS_LINE_SIZE];
    formatProgressLine(line, sizeof(line), &progress, 3000);
    EXPECT_STREQ("hashing 3/40 files, 170/2048 MiB, 85.2 MiB/s", line);
}

#ifndef _WIN32
// Signing needs OpenSSL: the Linux tool only.
TEST_F(PublishFolder, SignedReleaseRoundTrip) {
    std::string key = joinPath(root, "release"), other = joinPath(root, "other");
    ASSERT_EQ(0, runTool({"keygen", key}).status);
    ASSERT_EQ(0, runTool({"keygen", other}).status);
    struct stat info;
    ASSERT_EQ(0, stat((key + ".key").c_str(), &info));
    EXPECT_EQ(0600u, info.st_mode & 0777);
    std::string privateKey = readFile(key + ".key");
    EXPECT_EQ(1, runTool({"keygen", key}).status);
    EXPECT_EQ(privateKey, readFile(key + ".key"));

    put("main.exe", "abc");
    ASSERT_EQ(0, runTool({"manifest", client, "--key", key + ".key"}).status);
    ToolRun good = runTool({"verify", client, "--pub", key + ".pub"});
    EXPECT_EQ(0, good.status) << good.out;
    EXPECT_NE(std::string::npos, good.out.find("manifest.txt.sig: signed by")) << good.out;

    const std::string manifest = readFile(at("manifest.txt")), signature = readFile(at("manifest.txt.sig"));
    const struct {
        std::string manifest, signature, publicKey, message;
    } broken[] = {{manifest, signature, other + ".pub", "not a signature of this manifest by"},
                  {manifest + "\r\n", signature, key + ".pub", "not a signature of this manifest by"},
                  {manifest, signature.substr(0, 40), key + ".pub", "cut short, 40 of "},
                  {manifest, signature + "x", key + ".pub", "not an ECDSA P-256 signature in DER form"},
                  {manifest, signature, key + ".key", "is not an ECDSA P-256 public key"}};
    for (const auto& c : broken) {
        writeFile(at("manifest.txt"), c.manifest);
        writeFile(at("manifest.txt.sig"), c.signature);
        ToolRun run = runTool({"verify", client, "--pub", c.publicKey});
        EXPECT_EQ(1, run.status);
        EXPECT_NE(std::string::npos, run.out.find(c.message)) << c.message << "\n" << run.out;
    }
    fs::remove(at("manifest.txt.sig"));
    EXPECT_NE(std::string::npos, runTool({"verify", client, "--pub", key + ".pub"}).out.find("sig: missing"));

    // sign signs the manifest as it stands; a new unsigned manifest warns of the old signature.
    EXPECT_EQ(0, runTool({"sign", client, "--key", key + ".key"}).status);
    EXPECT_EQ(0, runTool({"verify", client, "--pub", key + ".pub"}).status);
    EXPECT_NE(std::string::npos, runTool({"manifest", client}).err.find("sig is left from an earlier manifest"));
}
#endif

}  // namespace
