#include <string.h>

#include "tools/publish/Commands.h"
#include "tools/publish/Publish.h"
#include "update/Directives.h"

static const char* const PUBLISH_USAGE =
    "usage: orvel-publish COMMAND ARGUMENTS\n"
    "\n"
    "  keygen NAME\n"
    "      Makes a release signing key pair: NAME.key, the private key (readable\n"
    "      by you alone; keep it offline), and NAME.pub, the public key to build\n"
    "      the launcher with. Never replaces a file.\n"
    "  manifest CLIENT_DIR [-o FILE] [--client-dir-length N] [--key NAME.key]\n"
    "      Writes the manifest of every file under CLIENT_DIR to FILE (default\n"
    "      CLIENT_DIR/manifest.txt, \"-\" for standard output). Writes nothing and\n"
    "      names each file when a name would not work on a player's Windows PC.\n"
    "      N: length of the players' client folder path (default 40).\n"
    "      --key: also signs it, into FILE.sig.\n"
    "  sign CLIENT_DIR --key NAME.key\n"
    "      Signs CLIENT_DIR/manifest.txt as it is, into CLIENT_DIR/manifest.txt.sig\n"
    "      (the same as: openssl dgst -sha256 -sign NAME.key -out manifest.txt.sig\n"
    "      manifest.txt). A manifest that release wrote first gets its #signature\n"
    "      line, the signature of every byte before it.\n"
    "  check-news FILE\n"
    "      Shows what the launcher's window makes of news.txt and what it\n"
    "      ignores or cuts.\n"
    "  verify FOLDER [--manifest FILE] [--pub NAME.pub]\n"
    "      Checks the files in FOLDER against a manifest (default\n"
    "      FOLDER/manifest.txt). --pub: also checks that FILE.sig is its\n"
    "      signature by that key. A published store (#objects): also the\n"
    "      objects, and the #signature line with --pub.\n"
    "  release SRC OUT [--key NAME.key] [--release N] [--expires-days D]\n"
    "          [--no-paths] [--news FILE] [--launcher FILE] [--client-dir-length N]\n"
    "      Publishes the client folder SRC into OUT for a static server, a CDN or\n"
    "      mirrors: each file once in the store, OUT/objects/<2 hex>/<sha256>\n"
    "      (hard links where possible), the files at their paths for launchers\n"
    "      that predate the store (not with --no-paths), and OUT/manifest.txt\n"
    "      with the release's number N (default: one more than the last in OUT),\n"
    "      signed with --key. D: the release expires D days from now (#expires).\n"
    "      --news: checks FILE and copies it to OUT/news.txt.\n"
    "      --launcher: the launcher build of this release. Prints the order in\n"
    "      which to upload.\n"
    "  prune OUT --keep K\n"
    "      Removes the objects that none of the last K releases in OUT lists.\n"
    "\n"
    "Exit status: 0 all good, 1 problems found, 2 wrong command line.\n";

enum {
    OPTION_OUTPUT = 1 << 0,             // -o FILE
    OPTION_CLIENT_DIR_LENGTH = 1 << 1,  // --client-dir-length N
    OPTION_KEY = 1 << 2,                // --key NAME.key
    OPTION_PUB = 1 << 3,                // --pub NAME.pub
    OPTION_MANIFEST = 1 << 4,           // --manifest FILE
    OPTION_RELEASE = 1 << 5,            // --release N
    OPTION_EXPIRES_DAYS = 1 << 6,       // --expires-days D
    OPTION_NO_PATHS = 1 << 7,           // --no-paths
    OPTION_NEWS = 1 << 8,               // --news FILE
    OPTION_LAUNCHER = 1 << 9,           // --launcher FILE
    OPTION_KEEP = 1 << 10               // --keep K
};

enum { PUBLISH_MAX_EXPIRES_DAYS = 3650, PUBLISH_MAX_KEEP = 1000000 };

struct PublishOption {
    const char* name;
    uint32_t bit;
    int32_t takesValue;
};

static const PublishOption kOptions[] = {{"-o", OPTION_OUTPUT, 1},
                                         {"--client-dir-length", OPTION_CLIENT_DIR_LENGTH, 1},
                                         {"--key", OPTION_KEY, 1},
                                         {"--pub", OPTION_PUB, 1},
                                         {"--manifest", OPTION_MANIFEST, 1},
                                         {"--release", OPTION_RELEASE, 1},
                                         {"--expires-days", OPTION_EXPIRES_DAYS, 1},
                                         {"--no-paths", OPTION_NO_PATHS, 0},
                                         {"--news", OPTION_NEWS, 1},
                                         {"--launcher", OPTION_LAUNCHER, 1},
                                         {"--keep", OPTION_KEEP, 1}};

struct PublishCommand {
    const char* name;
    int32_t operandCount;
    uint32_t options;   // OPTION_* it takes
    uint32_t required;  // those of them it cannot do without
    int (*run)(const PublishOptions* options, FILE* out, FILE* err);
};

static const PublishCommand kCommands[] = {
    {"keygen", 1, 0, 0, runKeygen},
    {"manifest", 1, OPTION_OUTPUT | OPTION_CLIENT_DIR_LENGTH | OPTION_KEY, 0, runManifest},
    {"sign", 1, OPTION_KEY, OPTION_KEY, runSign},
    {"check-news", 1, 0, 0, runCheckNews},
    {"verify", 1, OPTION_MANIFEST | OPTION_PUB, 0, runVerify},
    {"release", 2,
     OPTION_KEY | OPTION_RELEASE | OPTION_EXPIRES_DAYS | OPTION_NO_PATHS | OPTION_NEWS | OPTION_LAUNCHER |
         OPTION_CLIENT_DIR_LENGTH,
     0, runRelease},
    {"prune", 1, OPTION_KEEP, OPTION_KEEP, runPrune}};

static int usageError(FILE* err, const char* format, const char* argument) {
    fputs("orvel-publish: ", err);
    fprintf(err, format, argument);
    fputs("\nTry \"orvel-publish --help\".\n", err);
    return PUBLISH_EXIT_USAGE;
}

// A whole decimal number within [low, high]; 0 otherwise.
static int parseBoundedNumber(const char* text, int low, int high, int* value) {
    long number = 0;
    if (*text == 0) return 0;
    for (const char* p = text; *p; ++p) {
        if (*p < '0' || *p > '9') return 0;
        number = number * 10 + (*p - '0');
        if (number > high) return 0;
    }
    if (number < low) return 0;
    *value = (int)number;
    return 1;
}

// Stores the value of one option; 0 after telling what is wrong with it.
static int takeOptionValue(uint32_t bit, const char* value, PublishOptions* options, FILE* err) {
    int number = 0;
    switch (bit) {
        case OPTION_OUTPUT: options->output = value; break;
        case OPTION_KEY: options->key = value; break;
        case OPTION_PUB: options->publicKey = value; break;
        case OPTION_MANIFEST: options->manifest = value; break;
        case OPTION_NEWS: options->news = value; break;
        case OPTION_LAUNCHER: options->launcher = value; break;
        case OPTION_NO_PATHS: options->noPaths = 1; break;
        case OPTION_RELEASE:
            options->release = parseReleaseNumber(value, strlen(value));
            if (options->release == 0 || strchr(value, '\n') || strchr(value, '\r')) {
                usageError(err, "--release takes a number from 1 to 9223372036854775807, not \"%s\"", value);
                return 0;
            }
            break;
        case OPTION_EXPIRES_DAYS:
            if (!parseBoundedNumber(value, 1, PUBLISH_MAX_EXPIRES_DAYS, &number)) {
                usageError(err, "--expires-days takes a number of days from 1 to 3650, not \"%s\"", value);
                return 0;
            }
            options->expiresDays = number;
            break;
        case OPTION_KEEP:
            if (!parseBoundedNumber(value, 1, PUBLISH_MAX_KEEP, &number)) {
                usageError(err, "--keep takes a number of releases from 1 on, not \"%s\"", value);
                return 0;
            }
            options->keep = number;
            break;
        case OPTION_CLIENT_DIR_LENGTH:
            if (!parseBoundedNumber(value, PUBLISH_MIN_CLIENT_DIR_LENGTH, PUBLISH_MAX_CLIENT_DIR_LENGTH, &number)) {
                usageError(err, "--client-dir-length takes a number from 2 to 252, not \"%s\"", value);
                return 0;
            }
            options->clientDirLength = number;
            break;
    }
    return 1;
}

int runPublish(int argc, char** argv, FILE* out, FILE* err) {
    if (argc < 2) {
        fputs(PUBLISH_USAGE, err);
        return PUBLISH_EXIT_USAGE;
    }
    const char* name = argv[1];
    if (strcmp(name, "--help") == 0 || strcmp(name, "-h") == 0 || strcmp(name, "help") == 0) {
        fputs(PUBLISH_USAGE, out);
        return PUBLISH_EXIT_OK;
    }
    const PublishCommand* command = nullptr;
    for (const PublishCommand& c : kCommands) {
        if (strcmp(name, c.name) == 0) command = &c;
    }
    if (!command) return usageError(err, "unknown command \"%s\"", name);

    PublishOptions options = {};
    options.clientDirLength = PUBLISH_DEFAULT_CLIENT_DIR_LENGTH;
    uint32_t given = 0;
    int32_t operandCount = 0;
    for (int i = 2; i < argc; ++i) {
        const char* argument = argv[i];
        const PublishOption* option = nullptr;
        for (const PublishOption& o : kOptions) {
            if (strcmp(argument, o.name) == 0 && (command->options & o.bit)) option = &o;
        }
        if (option && (!option->takesValue || i + 1 < argc)) {
            const char* value = option->takesValue ? argv[++i] : nullptr;
            if (!takeOptionValue(option->bit, value, &options, err)) return PUBLISH_EXIT_USAGE;
            given |= option->bit;
        } else if (argument[0] == '-' && argument[1] != 0) {
            return usageError(err, "unknown option or missing value: \"%s\"", argument);
        } else if (operandCount == command->operandCount) {
            return usageError(err,
                              command->operandCount == 1 ? "one folder or file only; \"%s\" is one too many"
                                                         : "two folders only, SRC and OUT; \"%s\" is one too many",
                              argument);
        } else {
            options.operands[operandCount++] = argument;
        }
    }
    if (operandCount < command->operandCount) {
        return usageError(
            err, command->operandCount == 1 ? "\"%s\" needs a folder, file or name" : "\"%s\" needs SRC and OUT", name);
    }
    if ((command->required & OPTION_KEY) && !(given & OPTION_KEY)) {
        return usageError(err, "\"%s\" needs --key NAME.key", name);
    }
    if ((command->required & OPTION_KEEP) && !(given & OPTION_KEEP)) {
        return usageError(err, "\"%s\" needs --keep K", name);
    }
    if (options.key && options.output && strcmp(options.output, "-") == 0) {
        return usageError(err, "%s: a signed manifest goes to a file, not to standard output", "--key");
    }
    return command->run(&options, out, err);
}
