#include "PackOptions.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <regex>

namespace LiveModule::pack {

namespace {

// The catalogue's numbers are decimal texts the updater reads into int32.
bool IsInt32Text(const std::string& text, bool allowNegative) {
    static const std::regex digits("[0-9]+"), signedDigits("-?[0-9]+");
    if (!std::regex_match(text, allowNegative ? signedDigits : digits)) return false;
    errno = 0;
    const long long value = std::strtoll(text.c_str(), nullptr, 10);
    return errno == 0 && value >= INT32_MIN && value <= INT32_MAX;
}

std::vector<std::string> SplitTags(const std::string& text) {
    std::vector<std::string> tags;
    size_t start = 0;
    while (true) {
        const size_t comma = text.find(',', start);
        tags.push_back(text.substr(start, comma - start));
        if (comma == std::string::npos) return tags;
        start = comma + 1;
    }
}

}  // namespace

void PrintUsage(std::FILE* to) {
    std::fprintf(to,
                 "usage: lm-pack FOLDER [--out DIR] [--id ID] [--tags TAG,...] [--sign-key FILE]\n"
                 "               [--tree DIR --base URL --version N ...]\n"
                 "               [--manifest FILE --version N [--order N] [--name TEXT] [--required N]\n"
                 "                [--appver V] [--base URL]]\n"
                 "       lm-pack --make-key PREFIX\n"
                 "Checks the module package FOLDER the way the host will and writes DIR/<id>.zip.\n"
                 "  --out DIR       where the zip goes (default: the current folder; created when missing)\n"
                 "  --id ID         the module id the package must carry (default: FOLDER's name)\n"
                 "  --tags TAGS     Qt version tags to look for libraries 64bit/<id>_<tag>.so\n"
                 "                  (default: 6_3_1_0,6_4_1_0 and the Qt tag of the OBS Studio found when\n"
                 "                  lm-pack was built)\n"
                 "  --manifest FILE add or update the module's entry in this catalogue answer; a missing\n"
                 "                  file is created with the LiveModuleFactory entry\n"
                 "  --version N     package version (\"resver\"), required with --manifest\n"
                 "  --order N       load order (default 0)\n"
                 "  --name TEXT     display name (default: the id)\n"
                 "  --required N    installed packages older than this version are fetched again (default 0)\n"
                 "  --appver V      lowest host version the module accepts, such as 30.0.0\n"
                 "  --base URL      catalogue server base URL ending in /; the package is URLpackages/<id>.zip\n"
                 "                  (default: {base}, which the catalogue server fills in)\n"
                 "  --tree DIR      publish into a static catalogue tree for any static web server: the zip\n"
                 "                  in DIR/packages/, the entry in DIR/orbit/pcPlugin/getPlugins (the path the\n"
                 "                  host's query asks for); needs --base (the URL DIR is served at) and --version\n"
                 "  --sign-key FILE sign the zip with this Ed25519 private key (PEM); the signature goes\n"
                 "                  into the entry's \"ext\" as \"sig\", beside \"sha256\" and \"size\"\n"
                 "  --make-key P    write a new key pair P.key (private, keep it offline) and P.pub (for\n"
                 "                  the build option LIVEMODULE_PACKAGE_PUBLIC_KEY_FILE), then stop\n"
                 "An existing entry keeps the values not given. Exit status 0 when the zip was written,\n"
                 "1 when the package was refused or could not be written, 64 for a wrong command line.\n");
}

std::string ParseOptions(int argc, char** argv, PackOptions& options) {
    std::vector<std::string> folders;
    bool entryOptionGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (flag == "-h" || flag == "--help") {
            options.help = true;
            return "";
        }
        if (flag.empty() || flag[0] != '-') {
            folders.push_back(flag);
            continue;
        }
        if (i + 1 >= argc) return flag + " needs a value";
        const std::string value = argv[++i];
        if (flag == "--out") {
            if (value.empty()) return "--out needs a folder";
            options.outDir = value;
        } else if (flag == "--id") {
            options.id = value;
        } else if (flag == "--tags") {
            static const std::regex tagShape("[0-9]+(_[0-9]+)*");
            options.tags = SplitTags(value);
            for (size_t k = 0; k < options.tags.size(); ++k) {
                const std::string& tag = options.tags[k];
                if (!std::regex_match(tag, tagShape)) return "--tags: '" + tag + "' is not a Qt version tag such as 6_3_1_0";
                if (std::find(options.tags.begin(), options.tags.begin() + k, tag) != options.tags.begin() + k) {
                    return "--tags: " + tag + " is given twice";
                }
            }
        } else if (flag == "--tree") {
            if (value.empty()) return "--tree needs a folder";
            options.tree = value;
        } else if (flag == "--sign-key") {
            if (value.empty()) return "--sign-key needs a file";
            options.signKey = value;
        } else if (flag == "--make-key") {
            if (value.empty()) return "--make-key needs a file name prefix";
            options.makeKey = value;
        } else if (flag == "--manifest") {
            if (value.empty()) return "--manifest needs a file";
            options.manifest = value;
        } else if (flag == "--version") {
            if (!IsInt32Text(value, false)) return "--version must be a whole number from 0 to 2147483647";
            options.entry.version = value;
            entryOptionGiven = true;
        } else if (flag == "--order") {
            if (!IsInt32Text(value, true)) return "--order must be a whole number (it may be negative)";
            options.entry.order = value;
            entryOptionGiven = true;
        } else if (flag == "--required") {
            if (!IsInt32Text(value, false)) return "--required must be a whole number from 0 to 2147483647";
            options.entry.required = value;
            entryOptionGiven = true;
        } else if (flag == "--name") {
            if (value.empty()) return "--name must not be empty: the host drops entries without a display name";
            options.entry.name = value;
            entryOptionGiven = true;
        } else if (flag == "--appver") {
            // The host compares it component by component as numbers; anything else cannot be compared.
            static const std::regex dotted("[0-9]+(\\.[0-9]+)*");
            if (!std::regex_match(value, dotted)) return "--appver must be a dotted version such as 30.0.0";
            options.entry.appver = value;
            entryOptionGiven = true;
        } else if (flag == "--base") {
            if (value.empty() || value.back() != '/') return "--base must be a URL ending in /, such as http://127.0.0.1:18601/";
            options.entry.base = value;
            entryOptionGiven = true;
        } else {
            return "unknown option " + flag;
        }
    }
    if (!options.makeKey.empty()) return folders.empty() ? "" : "--make-key takes no FOLDER";
    if (folders.size() != 1) return folders.empty() ? "no package FOLDER given" : "more than one FOLDER given";
    options.folder = folders.front();
    if (!options.tree.empty()) {
        if (!options.manifest.empty()) return "--tree and --manifest exclude each other: the tree holds the manifest";
        if (!options.entry.base) return "--tree needs --base: a static server cannot fill in {base}";
        if (options.entry.version.empty()) return "--tree needs --version";
        return "";
    }
    if (options.manifest.empty() && entryOptionGiven) return "--version, --order, --name, --required, --appver and --base need --manifest";
    if (!options.manifest.empty() && options.entry.version.empty()) return "--manifest needs --version";
    return "";
}

}  // namespace LiveModule::pack
