#!/usr/bin/env python3
"""Collects every text the program translates and writes the language files.

Sources of texts:
  * string literals passed whole to Translate, Translatable, Translated,
    TranslateCaption, Tr, Say, PhaseTitle and PageText in src/ (also wrapped in
    QStringLiteral / QString::fromLatin1);
  * window captions that TranslateForm translates: literals passed whole to
    setText, setToolTip, setWindowTitle, setTitle and to the QLabel,
    QPushButton, QCheckBox, QRadioButton and QGroupBox constructors;
  * every line of data/steps.txt (the wizard translates them line by line);
  * the texts between <!--T--> and <!--/T--> in the pages of data/archive.

For each data/lang/LL.po (msgid/msgstr pairs) the .po file is brought up to
date (new texts added with an empty msgstr, texts no longer used dropped) and
data/LL.lng is written: section [Messages], key = MD5 of the English text.

  scripts/update-translations.py            update the .po and .lng files
  scripts/update-translations.py --check    change nothing; exit 1 when a file
                                            is out of date or a text lacks a
                                            translation
  scripts/update-translations.py --list     print the collected texts
"""
import hashlib
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
TRANSLATING_CALLS = {"Translate", "Translatable", "Translated", "TranslateCaption", "Tr", "Say", "PhaseTitle",
                     "PageText"}
FORM_CALLS = {"setText", "setToolTip", "setWindowTitle", "setTitle",
              "QLabel", "QPushButton", "QCheckBox", "QRadioButton", "QGroupBox"}
WRAPPERS = (["QStringLiteral"], ["QString", "::", "fromLatin1"], ["QString", "::", "fromUtf8"])
STEP_MARKER = "-------"
PAGE_BEGIN, PAGE_END = "<!--T-->", "<!--/T-->"

ESCAPES = {"n": "\n", "t": "\t", "r": "\r", "\\": "\\", "'": "'", '"': '"', "?": "?", "0": "\0"}


def unescape_c(body):
    out, i = [], 0
    while i < len(body):
        c = body[i]
        if c == "\\" and i + 1 < len(body):
            nxt = body[i + 1]
            if nxt == "x":
                m = re.match(r"[0-9a-fA-F]+", body[i + 2:])
                out.append(chr(int(m.group(0), 16)))
                i += 2 + len(m.group(0))
                continue
            out.append(ESCAPES.get(nxt, nxt))
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def tokens(text):
    """C++ tokens: ('id', name), ('str', value) for joined adjacent literals, ('p', char)."""
    result, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            i = text.find("\n", i)
            i = n if i < 0 else i
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            i = n if end < 0 else end + 2
        elif c == '"' or (c == "R" and text.startswith('R"', i)):
            if c == "R":
                m = re.match(r'R"([^(\s]*)\(', text[i:])
                end = text.find(")" + m.group(1) + '"', i)
                value = text[i + len(m.group(0)):end]
                i = end + len(m.group(1)) + 2
            else:
                j = i + 1
                while text[j] != '"':
                    j += 2 if text[j] == "\\" else 1
                value = unescape_c(text[i + 1:j])
                i = j + 1
            if result and result[-1][0] == "str":
                result[-1] = ("str", result[-1][1] + value)
            else:
                result.append(("str", value))
        elif c == "'":
            j = i + 1
            while text[j] != "'":
                j += 2 if text[j] == "\\" else 1
            i = j + 1
        elif c.isalpha() or c == "_":
            m = re.match(r"[A-Za-z_0-9]+", text[i:])
            result.append(("id", m.group(0)))
            i += len(m.group(0))
        elif text.startswith("::", i):
            result.append(("p", "::"))
            i += 2
        elif c.isspace():
            i += 1
        else:
            result.append(("p", c))
            i += 1
    return result


def literal_argument(toks, k):
    """The literal that is the whole first argument of the call whose '(' is toks[k], or None."""
    k += 1
    closing = 0
    for wrapper in WRAPPERS:
        names = [t[1] for t in toks[k:k + len(wrapper)]]
        if names == wrapper and k + len(wrapper) < len(toks) and toks[k + len(wrapper)] == ("p", "("):
            k += len(wrapper) + 1
            closing = 1
            break
    if k >= len(toks) or toks[k][0] != "str":
        return None
    value = toks[k][1]
    k += 1
    if closing:
        if k >= len(toks) or toks[k] != ("p", ")"):
            return None
        k += 1
    if k >= len(toks) or toks[k] not in (("p", ")"), ("p", ",")):
        return None
    return value


def source_texts(path):
    toks = tokens(path.read_text(encoding="utf-8"))
    found = []
    for k in range(len(toks) - 1):
        kind, name = toks[k]
        if kind != "id" or toks[k + 1] != ("p", "("):
            continue
        if name not in TRANSLATING_CALLS and name not in FORM_CALLS:
            continue
        # A member of the same name is not the translation function.
        if name in TRANSLATING_CALLS and k > 0 and toks[k - 1] in (("p", "."), ("p", ">")):
            continue
        value = literal_argument(toks, k + 1)
        if value is not None and value.strip():
            found.append(value)
    return found


def page_key(text):
    return " ".join(text.split())


def collect():
    """Ordered {text: [places]}."""
    texts = {}

    def add(text, place):
        texts.setdefault(text, [])
        if place not in texts[text]:
            texts[text].append(place)

    for path in sorted((ROOT / "src").rglob("*")):
        if path.suffix in (".cpp", ".h"):
            for text in source_texts(path):
                add(text, str(path.relative_to(ROOT)))
    steps = ROOT / "data" / "steps.txt"
    for line in steps.read_text(encoding="utf-8").splitlines():
        if line.strip() and line.strip() != STEP_MARKER:
            add(line, "data/steps.txt")
    for path in sorted((ROOT / "data" / "archive").rglob("*.htm*")):
        html = path.read_text(encoding="utf-8")
        for m in re.finditer(re.escape(PAGE_BEGIN) + "(.*?)" + re.escape(PAGE_END), html, re.S):
            add(page_key(m.group(1)), str(path.relative_to(ROOT)))
    return texts


def po_quote(text):
    body = text.replace("\\", "\\\\").replace('"', '\\"').replace("\t", "\\t").replace("\n", "\\n")
    return '"' + body + '"'


def read_po(path):
    """{msgid: msgstr} of a .po file (only the subset this script writes)."""
    entries, current, field = {}, {}, None
    if not path.exists():
        return entries

    def flush():
        if "msgid" in current and current["msgid"]:
            entries[current["msgid"]] = current.get("msgstr", "")

    for raw in path.read_text(encoding="utf-8").splitlines():
        line = raw.strip()
        if line.startswith("msgid "):
            flush()
            current, field = {"msgid": unescape_c(line[7:-1])}, "msgid"
        elif line.startswith("msgstr "):
            current["msgstr"], field = unescape_c(line[8:-1]), "msgstr"
        elif line.startswith('"') and field:
            current[field] += unescape_c(line[1:-1])
        elif not line or line.startswith("#"):
            field = None if not line else field
    flush()
    return entries


def write_po(lang, texts, translations):
    out = [f"# Orvalis: texts of the program in the language \"{lang}\".",
           "# Written by scripts/update-translations.py; edit the msgstr lines only.", ""]
    for text, places in texts.items():
        out += ["#: " + " ".join(places), "msgid " + po_quote(text), "msgstr " + po_quote(translations.get(text, "")), ""]
    return "\n".join(out)


def lng_value(text):
    # The reader trims blanks and drops one pair of matching quotes.
    if len(text) >= 2 and text[0] in "\"'" and text[-1] == text[0]:
        return text[0] + text + text[0]
    return text


def write_lng(lang, texts, translations):
    out = [f"; Orvalis language file \"{lang}\", made by scripts/update-translations.py from data/lang/{lang}.po.",
           "; Keys: the MD5 of the English text in hexadecimal.", "[Messages]"]
    for text in texts:
        value = translations.get(text, "")
        if value:
            out.append(hashlib.md5(text.encode("utf-8")).hexdigest().upper() + "=" + lng_value(value))
    return "\r\n".join(out) + "\r\n"


def main(argv):
    check = "--check" in argv
    texts = collect()
    if "--list" in argv:
        for text in texts:
            print(text)
        return 0
    problems = []
    for po in sorted((ROOT / "data" / "lang").glob("*.po")):
        lang = po.stem
        translations = read_po(po)
        for text in texts:
            value = translations.get(text, "")
            if not value:
                problems.append(f"{po.name}: no translation for {text!r}")
            elif "\n" in value or "\r" in value:
                problems.append(f"{po.name}: a translation must be one line: {text!r}")
            elif value != value.strip():
                problems.append(f"{po.name}: blanks around a translation are lost: {text!r}")
            for param in sorted(set(re.findall(r"\$[1-9]", text))):
                if value and param not in value:
                    problems.append(f"{po.name}: {param} missing in the translation of {text!r}")
        dropped = [t for t in translations if t not in texts]
        for text in dropped:
            print(f"{po.name}: dropping the text no longer used: {text!r}", file=sys.stderr)
        lng = ROOT / "data" / f"{lang}.lng"
        wanted = {po: write_po(lang, texts, translations) + "\n", lng: write_lng(lang, texts, translations)}
        for path, content in wanted.items():
            current = path.read_bytes().decode("utf-8") if path.exists() else None
            if current == content:
                continue
            if check:
                problems.append(f"{path.relative_to(ROOT)} is out of date; run scripts/update-translations.py")
            else:
                path.write_bytes(content.encode("utf-8"))
                print(f"wrote {path.relative_to(ROOT)}")
    for p in problems:
        print(p, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
