#include <string.h>

#include "tools/publish/Commands.h"
#include "tools/publish/Publish.h"

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
    "      manifest.txt).\n"
    "  check-news FILE\n"
    "      Shows what the launcher's window makes of news.txt and what it\n"
    "      ignores or cuts.\n"
    "  verify FOLDER [--manifest FILE] [--pub NAME.pub]\n"
    "      Checks the files in FOLDER against a manifest (default\n"
    "      FOLDER/manifest.txt). --pub: also checks that FILE.sig is its\n"
    "      signature by that key.\n"
    "\n"
    "Exit status: 0 all good, 1 problems found, 2 wrong command line.\n";

enum {
    OPTION_OUTPUT = 1 << 0,             // -o FILE
    OPTION_CLIENT_DIR_LENGTH = 1 << 1,  // --client-dir-length N
    OPTION_KEY = 1 << 2,                // --key NAME.key
    OPTION_PUB = 1 << 3,                // --pub NAME.pub
    OPTION_MANIFEST = 1 << 4            // --manifest FILE
};

struct PublishOption {
    const char* name;
    uint32_t bit;
};

static const PublishOption kOptions[] = {{"-o", OPTION_OUTPUT},
                                         {"--client-dir-length", OPTION_CLIENT_DIR_LENGTH},
                                         {"--key", OPTION_KEY},
                                         {"--pub", OPTION_PUB},
                                         {"--manifest", OPTION_MANIFEST}};

struct PublishCommand {
    const char* name;
    uint32_t options;   // OPTION_* it takes
    uint32_t required;  // those of them it cannot do without
    int (*run)(const PublishOptions* options, FILE* out, FILE* err);
};

static const PublishCommand kCommands[] = {
    {"keygen", 0, 0, runKeygen},
    {"manifest", OPTION_OUTPUT | OPTION_CLIENT_DIR_LENGTH | OPTION_KEY, 0, runManifest},
    {"sign", OPTION_KEY, OPTION_KEY, runSign},
    {"check-news", 0, 0, runCheckNews},
    {"verify", OPTION_MANIFEST | OPTION_PUB, 0, runVerify}};

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
    for (int i = 2; i < argc; ++i) {
        const char* argument = argv[i];
        const PublishOption* option = nullptr;
        for (const PublishOption& o : kOptions) {
            if (strcmp(argument, o.name) == 0 && (command->options & o.bit)) option = &o;
        }
        if (option && i + 1 < argc) {
            if (!takeOptionValue(option->bit, argv[++i], &options, err)) return PUBLISH_EXIT_USAGE;
            given |= option->bit;
        } else if (argument[0] == '-' && argument[1] != 0) {
            return usageError(err, "unknown option or missing value: \"%s\"", argument);
        } else if (options.operand) {
            return usageError(err, "one folder or file only; \"%s\" is one too many", argument);
        } else {
            options.operand = argument;
        }
    }
    if (!options.operand) return usageError(err, "\"%s\" needs a folder, file or name", name);
    if ((command->required & OPTION_KEY) && !(given & OPTION_KEY)) {
        return usageError(err, "\"%s\" needs --key NAME.key", name);
    }
    if (options.key && options.output && strcmp(options.output, "-") == 0) {
        return usageError(err, "%s: a signed manifest goes to a file, not to standard output", "--key");
    }
    return command->run(&options, out, err);
}
