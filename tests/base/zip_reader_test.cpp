#include "base/zip_reader.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zip.h>
#include <zlib.h>

#include <cstdlib>
#include <sstream>

#include "base/shared_functions.h"
#include "test_util.h"

namespace {

std::string RawDeflate(const std::string& data) {
    z_stream zs{};
    deflateInit2(&zs, 6, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, data.size()), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    zs.avail_in = static_cast<uInt>(data.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    deflate(&zs, Z_FINISH);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

void Put16(std::string& s, unsigned v) {
    s += static_cast<char>(v & 0xFF);
    s += static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& s, std::uint32_t v) {
    Put16(s, v & 0xFFFF);
    Put16(s, v >> 16);
}
void Set32(std::string& s, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) s[at + static_cast<std::size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

// Builds small archives byte by byte; every field can be bent before Build.
struct ZipBuilder {
    struct Item {
        std::string name;
        std::string packed;
        std::uint16_t method = 0;
        std::uint16_t flags = 0;
        std::uint32_t crc = 0;
        std::uint32_t csize = 0;
        std::uint32_t usize = 0;
        std::uint32_t external = 0;
        std::uint16_t madeBy = 20;  // DOS
    };
    std::vector<Item> items;
    std::string comment;
    std::vector<std::size_t> localOffsets;
    std::size_t dirOffset = 0, endOffset = 0;

    Item& Add(const std::string& name, const std::string& data, bool deflate = false) {
        Item it;
        it.name = name;
        it.method = deflate ? 8 : 0;
        it.packed = deflate ? RawDeflate(data) : data;
        it.crc = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
        it.csize = static_cast<std::uint32_t>(it.packed.size());
        it.usize = static_cast<std::uint32_t>(data.size());
        items.push_back(it);
        return items.back();
    }

    std::string Build() {
        std::string z;
        localOffsets.clear();
        for (const Item& it : items) {
            localOffsets.push_back(z.size());
            Put32(z, 0x04034b50);
            Put16(z, 20);
            Put16(z, it.flags);
            Put16(z, it.method);
            Put32(z, 0);  // time, date
            Put32(z, it.crc);
            Put32(z, it.csize);
            Put32(z, it.usize);
            Put16(z, static_cast<unsigned>(it.name.size()));
            Put16(z, 0);
            z += it.name;
            z += it.packed;
        }
        dirOffset = z.size();
        for (std::size_t i = 0; i < items.size(); ++i) {
            const Item& it = items[i];
            Put32(z, 0x02014b50);
            Put16(z, it.madeBy);
            Put16(z, 20);
            Put16(z, it.flags);
            Put16(z, it.method);
            Put32(z, 0);
            Put32(z, it.crc);
            Put32(z, it.csize);
            Put32(z, it.usize);
            Put16(z, static_cast<unsigned>(it.name.size()));
            Put16(z, 0);
            Put16(z, 0);
            Put16(z, 0);
            Put16(z, 0);
            Put32(z, it.external);
            Put32(z, static_cast<std::uint32_t>(localOffsets[i]));
            z += it.name;
        }
        endOffset = z.size();
        Put32(z, 0x06054b50);
        Put16(z, 0);
        Put16(z, 0);
        Put16(z, static_cast<unsigned>(items.size()));
        Put16(z, static_cast<unsigned>(items.size()));
        Put32(z, static_cast<std::uint32_t>(endOffset - dirOffset));
        Put32(z, static_cast<std::uint32_t>(dirOffset));
        Put16(z, static_cast<unsigned>(comment.size()));
        z += comment;
        return z;
    }
};

std::string Extract(TKAZip& zip, int index) {
    std::ostringstream out;
    zip.ExtractToStream(zip.Entries()[index], out);
    return out.str();
}

std::string Pseudorandom(std::size_t n) {
    std::string s;
    std::uint32_t x = 12345;
    const char* words[] = {"artist ", "title ", "album ", "1999 ", "Nova ", "<tr> ", "\n"};
    while (s.size() < n) {
        x = x * 1103515245u + 12345u;
        s += words[(x >> 16) % 7];
        s += static_cast<char>('a' + (x >> 8) % 26);
    }
    s.resize(n);
    return s;
}

class ZipReaderTest : public ::testing::Test {
protected:
    TempDir dir;
    std::string WriteZip(const std::string& name, const std::string& bytes) { return dir.Write(name, bytes); }
};

}  // namespace

TEST(ZipNames, ArchiveFormAndMasks) {
    EXPECT_EQ(ZipArchiveForm("Need\\styles\\a.css"), "Need/styles/a.css");
    EXPECT_EQ(ZipArchiveForm("C:\\Music\\a.mp3"), "Music/a.mp3");
    EXPECT_EQ(ZipArchiveForm("\\\\server\\share\\x\\y.txt"), "x/y.txt");
    EXPECT_EQ(ZipArchiveForm("//host/only"), "only");

    EXPECT_TRUE(MatchesMask("Need/styles/a.css", "Need\\*.*"));
    EXPECT_TRUE(MatchesMask("need/MAIN.HTML", "Need\\*.*"));
    EXPECT_TRUE(MatchesMask("Need/main.html", "Need/*.*"));
    EXPECT_FALSE(MatchesMask("Need/", "Need\\*.*"));
    EXPECT_FALSE(MatchesMask("Need/README", "Need\\*.*"));
    EXPECT_FALSE(MatchesMask("Other/a.css", "Need\\*.*"));
    EXPECT_TRUE(MatchesMask("a1.txt", "a?.txt"));
    EXPECT_FALSE(MatchesMask("a.txt", "a?.txt"));
    EXPECT_TRUE(MatchesMask("b.txt", "[a-c].txt"));
    EXPECT_FALSE(MatchesMask("d.txt", "[a-c].txt"));
    EXPECT_TRUE(MatchesMask("d.txt", "[!a-c].txt"));
    EXPECT_TRUE(MatchesMask("B.txt", "[ab].TXT"));
    EXPECT_TRUE(MatchesMask("[x", "[x"));               // an unclosed bracket is literal
    EXPECT_TRUE(MatchesMask("\xC3\xA9.txt", "?.txt"));  // "?" is one character, not one byte
    EXPECT_TRUE(MatchesMask("aaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*b"));
    EXPECT_FALSE(MatchesMask("aaaaaaaaaaaaaaaaaaaaaaaa", "*a*a*a*a*a*b"));

    EXPECT_TRUE(IsSafeRelativePath("Need/styles/a.css"));
    EXPECT_TRUE(IsSafeRelativePath("a..b/c"));
    EXPECT_FALSE(IsSafeRelativePath("../x"));
    EXPECT_FALSE(IsSafeRelativePath("a/../../x"));
    EXPECT_FALSE(IsSafeRelativePath("a/.."));
    EXPECT_FALSE(IsSafeRelativePath("/etc/x"));
    EXPECT_FALSE(IsSafeRelativePath(""));
    EXPECT_FALSE(IsSafeRelativePath(std::string("a\0b", 3)));
}

// The archive the build makes from data/archive: every marker and placeholder
// of the page template is there, and the shared files come out unchanged.
TEST_F(ZipReaderTest, BuiltDataArchive) {
    std::string archive = std::string(ORVALIS_BINARY_DIR) + "/data";
    ASSERT_TRUE(FileExists(archive)) << "build the orvalis_data target first";
    TKAZip zip;
    zip.Open(archive);
    EXPECT_EQ(zip.FileName(), archive);

    int t = zip.IndexOf("TEMPLATE.html");
    ASSERT_GE(t, 0);
    std::string tpl = Extract(zip, t);
    EXPECT_EQ(tpl, LoadTextFile(std::string(ORVALIS_SOURCE_DIR) + "/data/archive/template.html"));
    for (const char* marker : {"<!--Item.Begin-->",
                               "<!--Item.End-->",
                               "<!--GroupBegin-->",
                               "<!--GroupEnd-->",
                               "<!--Album.Begin-->",
                               "<!--Album.End-->",
                               "$Title",
                               "$Color",
                               "$Main",
                               "$Heading",
                               "$Cover",
                               "$Info",
                               "$Track",
                               "$AlbumLink",
                               "$ArtFilename",
                               "$Artist",
                               "$File",
                               "$Time",
                               "$Bitrate",
                               "$Samplerate",
                               "charset=utf-8"})
        EXPECT_NE(tpl.find(marker), std::string::npos) << marker;
    // Blocks come in the order the page generator cuts them, and the page
    // keeps no placeholder it will not fill.
    EXPECT_LT(tpl.find("<!--GroupBegin-->"), tpl.find("<!--GroupEnd-->"));
    EXPECT_LT(tpl.find("<!--Item.Begin-->"), tpl.find("<!--Item.End-->"));
    EXPECT_EQ(tpl.find("$Item"), std::string::npos);
    for (unsigned char c : tpl) ASSERT_LT(c, 0x80) << "template text must be ASCII";

    zip.SetOverwriteAction(oaOverwriteAll);
    zip.SelectMatching("Need\\*.*");
    std::vector<std::string> selected;
    for (const auto& e : zip.Entries())
        if (e.Selected) selected.push_back(e.ArchiveName());
    EXPECT_NE(std::find(selected.begin(), selected.end(), "Need/main.html"), selected.end());
    EXPECT_NE(std::find(selected.begin(), selected.end(), "Need/style.css"), selected.end());
    EXPECT_EQ(std::find(selected.begin(), selected.end(), "template.html"), selected.end());

    zip.ExtractSelected(dir.Path());
    for (const std::string& name : selected) {
        std::string got = LoadTextFile(dir / name);
        EXPECT_EQ(got, LoadTextFile(std::string(ORVALIS_SOURCE_DIR) + "/data/archive/" + name)) << name;
    }
    std::string mainPage = LoadTextFile(dir / "Need/main.html");
    EXPECT_NE(mainPage.find("<title>"), std::string::npos);
}

// Archives written by Python's zipfile, including one streamed with data
// descriptors (sizes only in the central directory).
TEST_F(ZipReaderTest, PythonArchives) {
    if (std::system("python3 -c 'import zipfile' >/dev/null 2>&1") != 0) GTEST_SKIP() << "python3 missing";
    std::string script = dir.Write("make.py", R"PY(
import io, os, sys, zipfile
out = sys.argv[1]
with zipfile.ZipFile(os.path.join(out, 'py.zip'), 'w') as z:
    z.writestr(zipfile.ZipInfo('Template.HTML'), '<html>stored</html>')
    z.writestr('Need/styles/a.css', 'body{}' * 200, compress_type=zipfile.ZIP_DEFLATED)
    z.writestr('Need/README', 'read me', compress_type=zipfile.ZIP_DEFLATED)
    z.mkdir('Need/')
    z.writestr('sub/template.html', 'other')
    z.writestr('empty.txt', '')
    ro = zipfile.ZipInfo('Need/ro.txt')
    ro.external_attr = (0o100444 << 16) | 1
    z.writestr(ro, 'locked', compress_type=zipfile.ZIP_DEFLATED)
class Unseekable(io.RawIOBase):
    def __init__(self, f): self.f = f
    def writable(self): return True
    def write(self, b): return self.f.write(b)
with open(os.path.join(out, 'stream.zip'), 'wb') as f:
    with zipfile.ZipFile(Unseekable(f), 'w', zipfile.ZIP_DEFLATED) as z:
        z.writestr('Need/main.html', '<title>x</title>' * 50)
        z.writestr('Need/b.txt', 'second')
)PY");
    ASSERT_EQ(std::system(("python3 " + script + " " + dir.Path()).c_str()), 0);

    TKAZip zip;
    zip.Open(dir / "py.zip");
    ASSERT_EQ(zip.Entries().Count(), 7);
    EXPECT_EQ(zip.IndexOf("template.html"), 0);  // Template.HTML, not sub/template.html
    EXPECT_EQ(zip.IndexOf("SUB\\TEMPLATE.HTML"), 4);
    EXPECT_EQ(zip.IndexOf("missing.html"), -1);
    EXPECT_EQ(Extract(zip, 0), "<html>stored</html>");
    std::string css;
    for (int i = 0; i < 200; ++i) css += "body{}";
    EXPECT_EQ(Extract(zip, 1), css);
    EXPECT_TRUE(zip.Entries()[3].IsFolder());
    EXPECT_FALSE(zip.Entries()[1].IsFolder());

    zip.SelectMatching("Need\\*.*");
    std::vector<bool> sel;
    for (const auto& e : zip.Entries()) sel.push_back(e.Selected);
    EXPECT_EQ(sel, (std::vector<bool>{false, true, false, false, false, false, true}));
    zip.SelectMatching("*.txt");  // earlier selections stay
    EXPECT_TRUE(zip.Entries()[1].Selected);
    EXPECT_TRUE(zip.Entries()[5].Selected);

    // Empty entry, read-only attribute, overwrite rules.
    zip.SetOverwriteAction(oaOverwriteAll);
    std::string empty = dir / "out/empty.txt";
    ForceFolders("", empty, true);
    SaveTextFile("old", empty);
    zip.ExtractToFile(zip.Entries()[5], empty);
    EXPECT_TRUE(FileExists(empty));
    EXPECT_EQ(LoadTextFile(empty), "");

    std::string ro = dir / "out/ro.txt";
    zip.ExtractToFile(zip.Entries()[6], ro);
    EXPECT_EQ(LoadTextFile(ro), "locked");
    struct stat st {};
    ASSERT_EQ(::stat(ro.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0222, 0u);
    zip.ExtractToFile(zip.Entries()[6], ro);  // a read-only target is still replaced
    EXPECT_EQ(LoadTextFile(ro), "locked");

    zip.SetOverwriteAction(oaSkip);
    SaveTextFile("mine", dir / "out/keep.txt");
    zip.ExtractToFile(zip.Entries()[0], dir / "out/keep.txt");
    EXPECT_EQ(LoadTextFile(dir / "out/keep.txt"), "mine");

    zip.SetOverwriteAction(oaOverwriteAll);
    zip.SetApplyAtributes(false);
    zip.ExtractToFile(zip.Entries()[6], dir / "out/rw.txt");
    ASSERT_EQ(::stat((dir / "out/rw.txt").c_str(), &st), 0);
    EXPECT_NE(st.st_mode & 0200, 0u);

    zip.ExtractToFile(zip.Entries()[3], dir / "out/made/deep");
    EXPECT_TRUE(DirectoryExists(dir / "out/made/deep"));

    TKAZip stream;
    stream.Open(dir / "stream.zip");
    ASSERT_EQ(stream.Entries().Count(), 2);
    EXPECT_NE(stream.Entries()[0].GeneralPurposeFlags & 8, 0);
    std::string page;
    for (int i = 0; i < 50; ++i) page += "<title>x</title>";
    EXPECT_EQ(Extract(stream, 0), page);
    EXPECT_EQ(Extract(stream, 1), "second");
}

// An archive written by libzip, with stored, deflated and folder entries.
TEST_F(ZipReaderTest, LibzipArchive) {
    static const std::string big = Pseudorandom(400 * 1024);  // spans many inflate rounds
    static const std::string small = "tiny stored text";
    std::string path = dir / "lz.zip";
    int err = 0;
    zip_t* za = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    ASSERT_NE(za, nullptr);
    zip_source_t* s1 = zip_source_buffer(za, small.data(), small.size(), 0);
    zip_int64_t i1 = zip_file_add(za, "Need/tiny.txt", s1, ZIP_FL_ENC_UTF_8);
    zip_set_file_compression(za, static_cast<zip_uint64_t>(i1), ZIP_CM_STORE, 0);
    zip_source_t* s2 = zip_source_buffer(za, big.data(), big.size(), 0);
    zip_int64_t i2 = zip_file_add(za, "Need/big.htm", s2, ZIP_FL_ENC_UTF_8);
    zip_set_file_compression(za, static_cast<zip_uint64_t>(i2), ZIP_CM_DEFLATE, 9);
    zip_dir_add(za, "Need/sub", ZIP_FL_ENC_UTF_8);
    ASSERT_EQ(zip_close(za), 0);

    TKAZip zip;
    zip.Open(path);
    ASSERT_EQ(zip.Entries().Count(), 3);
    EXPECT_EQ(zip.Entries()[0].CompressionMethod, 0);
    EXPECT_EQ(zip.Entries()[1].CompressionMethod, 8);
    EXPECT_EQ(Extract(zip, 0), small);
    EXPECT_EQ(Extract(zip, 1), big);
    EXPECT_TRUE(zip.Entries()[2].IsFolder());

    zip.SelectMatching("*");
    zip.SetOverwriteAction(oaOverwriteAll);
    zip.ExtractSelected(dir / "target/new");  // missing target folders are made
    EXPECT_EQ(LoadTextFile(dir / "target/new/Need/big.htm"), big);
    EXPECT_EQ(LoadTextFile(dir / "target/new/Need/tiny.txt"), small);
    EXPECT_TRUE(DirectoryExists(dir / "target/new/Need/sub"));
}

TEST_F(ZipReaderTest, OpenErrorsAndListIndex) {
    TKAZip zip;
    std::string missing = dir / "nothing.zip";
    try {
        zip.Open(missing);
        FAIL() << "no error";
    } catch (const EZipError& e) {
        EXPECT_EQ(e.Message(), "File \"" + missing + "\" not found!");
    }
    EXPECT_THROW(zip.Open(dir.Path()), EZipError);  // a folder is not an archive

    ZipBuilder b;
    b.Add("a.txt", "A");
    zip.Open(WriteZip("ok.zip", b.Build()));
    try {
        zip.Entries()[zip.IndexOf("template.html")];
        FAIL() << "no error";
    } catch (const EListError& e) {
        EXPECT_EQ(e.Message(), "List index out of bounds (-1)");
    }
    EXPECT_THROW(zip.Entries()[1], EListError);
    zip.Close();
    EXPECT_EQ(zip.Entries().Count(), 0);
    EXPECT_FALSE(zip.Active());
}

TEST_F(ZipReaderTest, DamagedDirectoryGivesClearError) {
    ZipBuilder b;
    b.Add("one.txt", "first");
    b.Add("two.txt", "second", true);
    const std::string good = b.Build();

    auto expectDamaged = [&](const std::string& bytes, const char* what) {
        TKAZip zip;
        try {
            zip.Open(WriteZip("bad.zip", bytes));
            ADD_FAILURE() << what << ": no error";
        } catch (const EZipError& e) {
            EXPECT_NE(e.Message().find("Cannot read the archive"), std::string::npos) << what;
        }
        EXPECT_EQ(zip.Entries().Count(), 0) << what;
    };
    expectDamaged("PK\x05\x06", "shorter than a directory record");
    expectDamaged(std::string(5000, 'x'), "no directory record");
    std::string s = good;
    Set32(s, b.dirOffset + 46 + 7, 0x12345678);  // second central signature
    expectDamaged(s, "bad record signature");
    s = good;
    Set32(s, b.endOffset + 16, 0x7FFFFFF0);
    expectDamaged(s, "directory offset past the end");
    s = good;
    s[b.endOffset + 10] = '\x50';  // 80 entries in a directory that holds two
    expectDamaged(s, "too many entries");
    s = good;
    s[b.dirOffset + 28] = '\xFF';  // name length running past the end
    s[b.dirOffset + 29] = '\xFF';
    expectDamaged(s, "name past the end");
    s = good;
    s[b.endOffset + 4] = 1;  // disk number
    expectDamaged(s, "spanned archive");

    // A long comment after the directory record does not hide it.
    b.comment = std::string(3000, 'c') + "PK";
    TKAZip zip;
    zip.Open(WriteZip("comment.zip", b.Build()));
    EXPECT_EQ(Extract(zip, 1), "second");
}

// Entries whose data are damaged or cut short give no bytes and no error;
// unsupported ones give the refusal message.
TEST_F(ZipReaderTest, DamagedEntriesGiveNoBytes) {
    const std::string text = Pseudorandom(20000);
    ZipBuilder b;
    b.Add("truncated.htm", text, true).csize /= 2;        // deflate stream ends early
    b.Add("pastend.htm", text, true).csize = 0x00FFFFFF;  // data beyond the file
    b.Add("huge.htm", "abc", true).usize = 0xFFFFFFF0;    // impossible ratio
    b.Add("stored.htm", "abc").usize = 10;                // more than stored
    b.Add("badlocal.htm", "abc");
    b.Add("bzip.htm", "abc").method = 12;
    b.Add("secret.htm", "abc").flags = 1;
    b.Add("fine.htm", text, true);
    b.items[0].packed.resize(b.items[0].csize);
    std::string bytes = b.Build();
    Set32(bytes, b.localOffsets[4], 0x0badf00d);

    TKAZip zip;
    zip.Open(WriteZip("d.zip", bytes));
    for (int i = 0; i < 5; ++i) EXPECT_EQ(Extract(zip, i), "") << zip.Entries()[i].FileName;
    try {
        Extract(zip, 5);
        FAIL() << "no error";
    } catch (const EZipError& e) {
        EXPECT_EQ(e.Message(), "Cannot process this file: bzip.htm ");
    }
    EXPECT_THROW(Extract(zip, 6), EZipError);
    EXPECT_EQ(Extract(zip, 7), text);

    // A refused entry leaves no file behind; a truncated one leaves an empty file.
    zip.SetOverwriteAction(oaOverwriteAll);
    EXPECT_THROW(zip.ExtractToFile(zip.Entries()[5], dir / "bzip.htm"), EZipError);
    EXPECT_FALSE(FileExists(dir / "bzip.htm"));
    zip.ExtractToFile(zip.Entries()[0], dir / "truncated.htm");
    EXPECT_EQ(LoadTextFile(dir / "truncated.htm"), "");
    EXPECT_THROW(zip.ExtractToFile(zip.Entries()[7], dir / "no/such/folder/x"), EOSError);
}

TEST_F(ZipReaderTest, TraversalNamesAreRefused) {
    for (const char* evil : {"../x", "/etc/x", "Need/../../x", "C:\\..\\x"}) {
        ZipBuilder b;
        b.Add("Need/good.txt", "good");
        b.Add(evil, "evil");
        TKAZip zip;
        zip.Open(WriteZip("t.zip", b.Build()));
        zip.SetOverwriteAction(oaOverwriteAll);
        zip.SelectMatching("*");
        std::string target = dir / "target";
        EXPECT_THROW(zip.ExtractSelected(target), EZipError) << evil;
        EXPECT_FALSE(FileExists(dir / "x")) << evil;
        EXPECT_FALSE(FileExists(target + "/Need/good.txt")) << evil << ": nothing is written";
    }
}

TEST_F(ZipReaderTest, Zip64Records) {
    // One stored entry whose sizes and offset live in the zip64 extra field,
    // with a zip64 end record and its locator. Fields: {value, byte width}.
    auto le = [](std::string& z, std::initializer_list<std::pair<std::uint64_t, int>> fields) {
        for (auto [value, width] : fields)
            for (int i = 0; i < width; ++i) z += static_cast<char>((value >> (8 * i)) & 0xFF);
    };
    const std::string data = "sixty-four";
    const std::uint32_t crc = static_cast<std::uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(data.data()), 10));
    const std::uint64_t full = 0xFFFFFFFF;
    std::string z;
    le(z, {{0x04034b50, 4}, {45, 2}, {0, 2}, {0, 2}, {0, 4}, {crc, 4}, {full, 4}, {full, 4}, {5, 2}, {0, 2}});
    z += "a.txt" + data;
    const std::size_t dir64 = z.size();
    le(z, {{0x02014b50, 4},
           {45, 2},
           {45, 2},
           {0, 2},
           {0, 2},
           {0, 4},
           {crc, 4},
           {full, 4},
           {full, 4},
           {5, 2},
           {28, 2},
           {0, 2},
           {0, 2},
           {0, 2},
           {0, 4},
           {full, 4}});
    z += "a.txt";
    le(z, {{1, 2}, {24, 2}, {10, 8}, {10, 8}, {0, 8}});  // uncompressed, compressed, local offset
    const std::size_t dirSize = z.size() - dir64, end64 = z.size();
    le(z, {{0x06064b50, 4}, {44, 8}, {45, 2}, {45, 2}, {0, 4}, {0, 4}, {1, 8}, {1, 8}, {dirSize, 8}, {dir64, 8}});
    le(z, {{0x07064b50, 4}, {0, 4}, {end64, 8}, {1, 4}});
    le(z, {{0x06054b50, 4}, {0xFFFF, 2}, {0xFFFF, 2}, {0xFFFF, 2}, {0xFFFF, 2}, {full, 4}, {full, 4}, {0, 2}});

    TKAZip zip;
    zip.Open(WriteZip("z64.zip", z));
    ASSERT_EQ(zip.Entries().Count(), 1);
    EXPECT_EQ(zip.Entries()[0].UncompressedSize, 10u);
    EXPECT_EQ(Extract(zip, 0), data);
}

// Every single-byte corruption and every truncation of a small archive is
// either read or refused with an error; nothing crashes or reads outside.
TEST_F(ZipReaderTest, CorruptedBytesNeverCrash) {
    ZipBuilder b;
    b.Add("Need/a.css", Pseudorandom(300), true);
    b.Add("template.html", "<html>$Title</html>");
    const std::string good = b.Build();
    // Thousands of rewrites: memory-backed storage keeps this quick.
    std::string path =
        DirectoryExists("/dev/shm") ? "/dev/shm/orvalis-zip-fuzz-" + std::to_string(::getpid()) : dir / "fuzz.zip";
    auto tryAll = [&](const std::string& bytes) {
        SaveTextFile(bytes, path);
        TKAZip zip;
        try {
            zip.Open(path);
        } catch (const EZipError&) {
            return;
        }
        for (const auto& e : zip.Entries()) {
            try {
                std::ostringstream out;
                zip.ExtractToStream(e, out);
                EXPECT_LE(out.str().size(), e.UncompressedSize);
            } catch (const EZipError&) {
            }
        }
    };
    for (std::size_t i = 0; i < good.size(); ++i)
        for (unsigned char v : {0x00, 0xFF, 0x80}) {
            std::string s = good;
            s[i] = static_cast<char>(static_cast<unsigned char>(s[i]) ^ v);
            tryAll(s);
        }
    for (std::size_t n = 0; n < good.size(); ++n) tryAll(good.substr(0, n));
    ::unlink(path.c_str());
}
