// SPDX-License-Identifier: MIT
#include "CommandTable.h"

namespace sessionctl {

namespace {

struct ExitCodeHelp
{
    int code;
    const char* text;
};

const ExitCodeHelp kExitCodes[] = {
    {0, "success"},
    {1,
     "bad command line: unknown command, option or property name (the nearest names are suggested), a value "
     "that is not of the property's type or would not read back as given, or a property that set or reset "
     "cannot write; no file is changed"},
    {2, "no stored session (get), no running client (watch), or a stored file or the key cannot be used "
        "(corrupt, truncated, altered, "
        "wrong "
        "key, newer format); no file is changed"},
    {3,
     "the provisioning profile is malformed, not a regular file, too large, or holds a value that would not "
     "read back as given; no file is changed"},
    {4, "a file or directory cannot be read or written, the secret store is required and none answers, the "
        "state directory is busy, or the output cannot be written; no stored file is left half-written"},
};

const char* const kSummary = "restore, provision, inspect and change a stored session configuration";

const char* const kDescription =
    "sessionctl walks a session stored in a state directory through the library as the client does: it "
    "restores it, provisions it from a profile, prints it, reads and writes single properties, signs out, "
    "rotates the data key and forgets everything stored. Data goes to standard output; messages about the "
    "key, warnings and errors go to standard error.";

const char* const kValues =
    "Values are taken as typed: text as it stands, true or false, decimal numbers within the property's "
    "range, "
    "dates in ISO 8601 (2024-05-01T09:30:00Z), an enumeration's name or number (sessionctl list names them), "
    "JSON for lists, nested sets and records. A VALUE of - is read from standard input, so that a key or "
    "token "
    "never appears on a command line; -- ends the options, for a value that starts with -.";

QString argumentWords(ArgumentKind kind)
{
    switch (kind) {
    case ArgumentKind::None:
        break;
    case ArgumentKind::File:
        return QStringLiteral("FILE");
    case ArgumentKind::Properties:
        return QStringLiteral("DOMAIN.PROPERTY...");
    case ArgumentKind::PropertyValues:
        return QStringLiteral("DOMAIN.PROPERTY VALUE...");
    }
    return QString();
}

QString optionWords(const OptionSpec& option)
{
    return option.value
               ? QStringLiteral("--%1 %2").arg(QLatin1String(option.name), QLatin1String(option.value))
               : QStringLiteral("--%1").arg(QLatin1String(option.name));
}

// `text` in lines of at most 79 columns, the first indented by `indent`, the others
// by `hanging` (the same when negative).
QString wrapped(const QString& text, int indent, int hanging = -1)
{
    QString out;
    QString line;
    QString pad(indent, QLatin1Char(' '));
    for (const QString& word : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!line.isEmpty() && pad.size() + line.size() + 1 + word.size() > 79) {
            out += pad + line + QLatin1Char('\n');
            line.clear();
            pad = QString(hanging < 0 ? indent : hanging, QLatin1Char(' '));
        }
        line += (line.isEmpty() ? QString() : QStringLiteral(" ")) + word;
    }
    return out + pad + line + QLatin1Char('\n');
}

void printOptions(QTextStream& out, unsigned options)
{
    out << "\nOptions:\n";
    for (const OptionSpec& option : kOptions) {
        if (options & option.option)
            out << "  " << optionWords(option) << '\n' << wrapped(QLatin1String(option.help), 6);
    }
    out << "  -h, --help\n" << wrapped(QStringLiteral("show this help"), 6);
}

// Text as roff reads it: backslashes and hyphens escaped, no line read as a request.
QString roff(const QString& text)
{
    QString out = text;
    out.replace(QLatin1Char('\\'), QStringLiteral("\\e")).replace(QLatin1Char('-'), QStringLiteral("\\-"));
    if (out.startsWith(QLatin1Char('.')) || out.startsWith(QLatin1Char('\'')))
        out.prepend(QStringLiteral("\\&"));
    return out;
}

} // namespace

const Verb* findVerb(const QString& name)
{
    for (int i = 0; i < kVerbCount; ++i) {
        if (name == QLatin1String(kVerbs[i].name))
            return &kVerbs[i];
    }
    return nullptr;
}

QStringList verbNames()
{
    QStringList names;
    for (int i = 0; i < kVerbCount; ++i) {
        if (!kVerbs[i].hidden)
            names << QLatin1String(kVerbs[i].name);
    }
    return names;
}

QString synopsis(const Verb& verb)
{
    QStringList words;
    for (const OptionSpec& option : kOptions) {
        if (verb.options & option.option)
            words << QLatin1Char('[') + optionWords(option) + QLatin1Char(']');
    }
    if (verb.arguments != ArgumentKind::None)
        words << QStringLiteral("[--]") << argumentWords(verb.arguments);
    return words.join(QLatin1Char(' '));
}

void printHelp(QTextStream& out, const Verb* verb)
{
    if (verb) {
        out << wrapped(
                   QStringLiteral("Usage: sessionctl %1 %2").arg(QLatin1String(verb->name), synopsis(*verb)),
                   0, 4)
            << '\n'
            << wrapped(QLatin1String(verb->description), 0);
        if (verb->arguments == ArgumentKind::PropertyValues)
            out << '\n' << wrapped(QLatin1String(kValues), 0);
        printOptions(out, verb->options);
    } else {
        out << "Usage: sessionctl [--version] [--help] COMMAND [OPTIONS] [ARGUMENTS]\n\n"
            << wrapped(QLatin1String(kDescription), 0) << "\nCommands:\n";
        unsigned all = 0;
        for (int i = 0; i < kVerbCount; ++i) {
            if (kVerbs[i].hidden)
                continue;
            all |= kVerbs[i].options;
            out << wrapped(QStringLiteral("%1 %2").arg(QLatin1String(kVerbs[i].name), synopsis(kVerbs[i])), 2,
                           4)
                << wrapped(QLatin1String(kVerbs[i].description), 6);
        }
        out << '\n' << wrapped(QLatin1String(kValues), 0);
        printOptions(out, all);
        out << "  --version\n" << wrapped(QStringLiteral("print the version"), 6);
    }
    out << "\nExit codes:\n";
    for (const ExitCodeHelp& e : kExitCodes)
        out << "  " << e.code << wrapped(QLatin1String(e.text), 5).mid(3);
}

void printManPage(QTextStream& out)
{
    out << ".TH SESSIONCTL 1 \"\" \"sessionctl " << kVersion << "\" \"User Commands\"\n.nh\n"
        << ".SH NAME\nsessionctl \\- " << roff(QLatin1String(kSummary)) << '\n'
        << ".SH SYNOPSIS\n";
    for (int i = 0; i < kVerbCount; ++i) {
        if (!kVerbs[i].hidden)
            out << ".B sessionctl " << kVerbs[i].name << '\n' << roff(synopsis(kVerbs[i])) << "\n.br\n";
    }
    out << ".B sessionctl\n\\-\\-version | \\-\\-help\n"
        << ".SH DESCRIPTION\n"
        << roff(QLatin1String(kValues)) << '\n'
        << ".SH COMMANDS\n";
    for (int i = 0; i < kVerbCount; ++i) {
        if (!kVerbs[i].hidden)
            out << ".TP\n.B " << kVerbs[i].name << '\n' << roff(QLatin1String(kVerbs[i].description)) << '\n';
    }
    out << ".SH OPTIONS\n";
    for (const OptionSpec& option : kOptions) {
        out << ".TP\n.B \\-\\-" << roff(QLatin1String(option.name));
        if (option.value)
            out << " \" \" " << roff(QLatin1String(option.value));
        out << '\n' << roff(QLatin1String(option.help)) << '\n';
    }
    out << ".TP\n.B \\-h, \\-\\-help\nshow the help of all commands, or of one\n"
        << ".TP\n.B \\-\\-version\nprint the version\n"
        << ".SH \"EXIT STATUS\"\n";
    for (const ExitCodeHelp& e : kExitCodes)
        out << ".TP\n.B " << e.code << '\n' << roff(QLatin1String(e.text)) << '\n';
}

void printCompletion(QTextStream& out)
{
    out << "# bash completion for sessionctl, written by sessionctl from its command table\n"
           "_sessionctl()\n{\n"
           "    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} verb= i\n"
           "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
           "        case ${COMP_WORDS[i]} in\n";
    QStringList valued;
    for (const OptionSpec& option : kOptions) {
        if (option.value)
            valued << QStringLiteral("--") + QLatin1String(option.name);
    }
    out << "        " << valued.join(QLatin1Char('|')) << ") ((i++)) ;;\n"
        << "        -*) ;;\n"
           "        *) verb=${COMP_WORDS[i]}; break ;;\n"
           "        esac\n"
           "    done\n"
           "    case $prev in\n"
           "    --state) COMPREPLY=($(compgen -d -- \"$cur\")); return ;;\n"
           "    --key-file|--profile) COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n"
           "    --key-store) COMPREPLY=($(compgen -W 'auto secret-store file' -- \"$cur\")); return ;;\n"
           "    --wait) return ;;\n"
           "    esac\n"
           "    local words\n"
           "    case $verb in\n"
           "    '') words='"
        << verbNames().join(QLatin1Char(' ')) << " --help --version' ;;\n";
    for (int i = 0; i < kVerbCount; ++i) {
        const Verb& verb = kVerbs[i];
        if (verb.hidden)
            continue;
        QStringList options;
        for (const OptionSpec& option : kOptions) {
            if (verb.options & option.option)
                options << QStringLiteral("--") + QLatin1String(option.name);
        }
        options << QStringLiteral("--help");
        out << "    " << verb.name << ")\n        words='" << options.join(QLatin1Char(' ')) << "'\n";
        if (verb.arguments == ArgumentKind::File)
            out << "        [[ $cur == -* ]] || { COMPREPLY=($(compgen -f -- \"$cur\")); return; } ;;\n";
        else if (verb.arguments == ArgumentKind::Properties || verb.arguments == ArgumentKind::PropertyValues)
            out << "        [[ $cur == -* ]] || words=$(\"${COMP_WORDS[0]}\" list 2>/dev/null | cut -d' ' "
                   "-f1) ;;\n";
        else
            out << "        ;;\n";
    }
    out << "    esac\n"
           "    COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
           "}\n"
           "complete -F _sessionctl sessionctl\n";
}

} // namespace sessionctl
