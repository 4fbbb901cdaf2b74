// Hostile source and working folders: names that would become paths, links
// out of the folder or back into it, FIFOs, hard links to the user's files,
// packages behind links. Nothing outside the named folders may be read,
// written or deleted, no call may block or recurse without end, and every
// file left out is recorded for the caller.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <thread>

#include "BaseParser.h"
#include "TestSupport.h"
#include "folders/detail/BuildFolders.h"
#include "platform/FileSystem.h"
#include "platform/KmlFiles.h"
#include "platform/Problems.h"
#include "placement/detail/FolderListing.h"
#include "placement/detail/TemplateRewrite.h"
#include "platform/FaultInjection.h"

namespace fs = std::filesystem;

class CBaseParserTestAccess {
 public:
  static bool CopyFileW(CBaseParser& p, const std::string& s, const std::string& d) { return p.CopyFileW(s, d); }
};

namespace {

const std::string kCity = std::string(KMZTILE_SOURCE_DIR) + "/samples/city";

// A source folder with the sample city's model 0001, its texture folder and template.
void LayOutSource(const std::string& src) {
  fs::create_directories(src);
  fs::copy_file(kCity + "/doc.kml", src + "/doc.kml");
  fs::copy_file(kCity + "/0001.dae", src + "/0001.dae");
  fs::copy_file(kCity + "/0001.txt", src + "/0001.txt");
  fs::copy(kCity + "/0001", src + "/0001", fs::copy_options::recursive);
}

// Entry name -> bytes of a package.
std::map<std::string, std::string> Entries(const std::string& kmz) {
  std::vector<std::string> names, contents;
  std::map<std::string, LonLatID> locations;
  std::map<std::string, std::string> out;
  if (!CBaseParser::ReadKmzToList(kmz, names, contents, locations)) return out;
  for (size_t i = 0; i < names.size() && i < contents.size(); ++i) out[names[i]] = contents[i];
  return out;
}

bool Recorded(const std::vector<kmztile::platform::Problem>& problems, const std::string& fileEnd) {
  for (const auto& p : problems)
    if (p.file.size() >= fileEnd.size() && p.file.compare(p.file.size() - fileEnd.size(), fileEnd.size(), fileEnd) == 0)
      return true;
  return false;
}

class HostileFolderTest : public kmztest::TempDirTest {
 protected:
  void SetUp() override {
    TempDirTest::SetUp();
    kmztile::platform::TakeProblems();
  }
  // Runs @p call on another thread; a call still blocked after five seconds
  // fails the test, and a writer opened on @p fifo releases it.
  void ReturnsPromptly(const std::string& what, const std::string& fifo, const std::function<void()>& call) {
    auto done = std::async(std::launch::async, call);
    if (done.wait_for(std::chrono::seconds(5)) == std::future_status::ready) return;
    ADD_FAILURE() << what << " blocked on the FIFO " << fifo;
    const int unblock = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    done.wait();
    if (unblock >= 0) ::close(unblock);
  }
  bool Package(const std::string& src) {
    CBaseParser parser;
    std::string result;
    return parser.GenNeededFile(src, nullptr, nullptr, result);
  }
};

}  // namespace

// A listed name holding a backslash once became a path: an empty model named
// "..\..\victim\precious.dae" made packaging delete victim/precious.kmz, and
// a texture named "..\..\secret.txt" was packed from outside the folder.
TEST_F(HostileFolderTest, ListedNamesNeverBecomePaths) {
  const std::string src = Path("city/src");
  LayOutSource(src);
  kmztest::WriteFile(Path("victim/precious.kmz"), "precious");
  kmztest::WriteFile(Path("secret.txt"), "secret bytes");
  kmztest::WriteFile(src + "/..\\..\\victim\\precious.dae", "");
  kmztest::WriteFile(src + "/0001/..\\..\\..\\secret.txt", "decoy");

  ASSERT_TRUE(Package(src));
  EXPECT_EQ(kmztest::ReadFile(Path("victim/precious.kmz")), "precious");
  const auto entries = Entries(src + "/middle/0001.kmz");
  ASSERT_FALSE(entries.empty());
  for (const auto& [name, bytes] : entries) {
    EXPECT_EQ(name.find('\\'), std::string::npos) << name;
    EXPECT_NE(bytes, "secret bytes") << name;
  }
  const auto problems = kmztile::platform::TakeProblems();
  EXPECT_TRUE(Recorded(problems, "/..\\..\\victim\\precious.dae"));
  EXPECT_TRUE(Recorded(problems, "/0001/..\\..\\..\\secret.txt"));
}

// Links out of the folder and back into it: a texture linked to a file
// outside, a texture folder that is a link, two links to ".." (which made a
// walk recurse without end), a location text and a template behind links.
TEST_F(HostileFolderTest, SymbolicLinksAreNeitherFollowedNorPacked) {
  const std::string src = Path("src");
  LayOutSource(src);
  kmztest::WriteFile(Path("outside/secret.jpg"), "secret bytes");
  fs::create_symlink(Path("outside/secret.jpg"), src + "/0001/stolen.jpg");
  fs::create_directory_symlink("..", src + "/0001/up");
  fs::create_directory_symlink("..", src + "/0001/up2");
  fs::copy_file(kCity + "/0002.dae", src + "/0002.dae");
  fs::copy_file(kCity + "/0002.txt", Path("outside/0002.txt"));
  fs::create_symlink(Path("outside/0002.txt"), src + "/0002.txt");
  fs::create_directory_symlink(Path("outside"), src + "/0002");
  // A model file behind a link, beside a location text of its own.
  fs::copy_file(kCity + "/0003.dae", Path("outside/0003.dae"));
  fs::create_symlink(Path("outside/0003.dae"), src + "/0003.dae");
  fs::copy_file(kCity + "/0003.txt", src + "/0003.txt");

  ASSERT_TRUE(Package(src));
  for (const auto& [name, bytes] : Entries(src + "/middle/0001.kmz")) {
    EXPECT_NE(bytes, "secret bytes") << name;
    EXPECT_EQ(name.find("up"), std::string::npos) << name;
  }
  EXPECT_FALSE(kmztest::Exists(src + "/middle/0002.kmz")) << "a location read through a link placed the model";
  EXPECT_FALSE(kmztest::Exists(src + "/middle/0003.kmz")) << "a model file read through a link was packed";
  const auto problems = kmztile::platform::TakeProblems();
  for (const char* file : {"/0001/stolen.jpg", "/0001/up", "/0001/up2", "/0002.txt", "/0003.dae"})
    EXPECT_TRUE(Recorded(problems, file)) << file;

  // A template behind a link is not read either.
  fs::rename(src + "/doc.kml", Path("outside/doc.kml"));
  fs::create_symlink(Path("outside/doc.kml"), src + "/doc.kml");
  fs::remove(src + "/middle/0001.kmz");
  Package(src);
  EXPECT_FALSE(kmztest::Exists(src + "/middle/0001.kmz"));

  // Nor is a package folder behind a link written into: packages, the
  // coordinates and the scope file replaced the files of the folder it named.
  fs::rename(Path("outside/doc.kml"), src + "/doc.kml");
  fs::remove_all(src + "/middle");
  kmztest::WriteFile(Path("elsewhere/0001.kmz"), "precious");
  kmztest::WriteFile(Path("elsewhere/coords.txt"), "precious");
  fs::create_directory_symlink(Path("elsewhere"), src + "/middle");
  kmztile::platform::TakeProblems();
  EXPECT_FALSE(Package(src));
  EXPECT_EQ(kmztest::ReadFile(Path("elsewhere/0001.kmz")), "precious");
  EXPECT_EQ(kmztest::ReadFile(Path("elsewhere/coords.txt")), "precious");
  EXPECT_FALSE(kmztest::Exists(Path("elsewhere/scope.txt")));
  EXPECT_TRUE(Recorded(kmztile::platform::TakeProblems(), "/src/middle"));
}

// A FIFO (or device) as an archive, a model, a texture or a template is
// refused at once; an open() without O_NONBLOCK waited for a writer forever.
TEST_F(HostileFolderTest, FifosAreRefusedWithoutBlocking) {
  const std::string src = Path("src");
  LayOutSource(src);
  const std::string fifo = Path("pipe.kmz");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  for (const char* name : {"/0003.dae", "/0001/pipe.jpg", "/0003.txt"})
    ASSERT_EQ(::mkfifo((src + name).c_str(), 0600), 0) << name;

  ReturnsPromptly("reading an archive", fifo, [&] {
    std::vector<std::string> names, contents;
    std::map<std::string, LonLatID> locations;
    EXPECT_FALSE(CBaseParser::ReadKmzToList(fifo, names, contents, locations));
    std::string text;
    EXPECT_FALSE(kmztile::platform::KmlReadFileToString(fifo, &text));
    std::ifstream in;
    EXPECT_FALSE(kmztile::platform::OpenInput(in, fifo, true));
  });
  ReturnsPromptly("moving a package", fifo, [&] { EXPECT_FALSE(CBaseParser::UpdateLocationInKml(fifo, 1, 2)); });
  ReturnsPromptly("packaging", src + "/0001/pipe.jpg", [&] {
    EXPECT_TRUE(Package(src));
    EXPECT_TRUE(Recorded(kmztile::platform::TakeProblems(), "/0003.dae"));  // this thread's list
  });
  EXPECT_EQ(Entries(src + "/middle/0001.kmz").count("models/0001/pipe.jpg"), 0u);
}

// The model file a package takes, named as listed or in letter case as the
// model: only a plain file, never one behind a link (which could lead out of
// the folder), a FIFO (whose open would wait for a writer) or a folder.
TEST_F(HostileFolderTest, AModelFileIsTakenOnlyAsAPlainFile) {
  const std::string src = Path("src");
  kmztest::WriteFile(src + "/1.dae", "<COLLADA/>");
  kmztest::WriteFile(Path("outside/2.dae"), "<COLLADA/>");
  fs::create_symlink(Path("outside/2.dae"), src + "/2.dae");
  ASSERT_EQ(::mkfifo((src + "/3.dae").c_str(), 0600), 0);
  fs::create_directories(src + "/4.dae");
  kmztest::WriteFile(src + "/5.DAE", "<COLLADA/>");
  using kmztile::placement::detail::ModelFilePath;
  EXPECT_EQ(ModelFilePath(src, "1", "1.dae"), src + "\\1.dae");
  EXPECT_EQ(ModelFilePath(src, "5", "5.DAE"), src + "\\5.DAE");
  ReturnsPromptly("taking a model file", src + "/3.dae", [&] {
    for (const char* name : {"2", "3", "4", "6"}) EXPECT_EQ(ModelFilePath(src, name, name + std::string(".dae")), "") << name;
  });
}

// What listing a folder's files gives and records: its plain files, nothing
// and no problem for a folder that is not there, and a named problem for a
// file in its place or a folder that cannot be listed.
TEST_F(HostileFolderTest, AFolderThatDoesNotListIsNamedWithTheReason) {
  using kmztile::placement::detail::ListFolderFiles;
  kmztest::WriteFile(Path("folder/a.png"), "a");
  fs::create_directories(Path("folder/sub"));
  kmztest::WriteFile(Path("file"), "not a folder");
  kmztile::platform::TakeProblems();
  const auto list = [](const std::string& folder) {
    std::vector<std::string> files;
    ListFolderFiles(folder, "", files);
    return files;
  };
  EXPECT_EQ(list(Path("folder")), std::vector<std::string>{"a.png"});
  EXPECT_TRUE(list(Path("missing")).empty());
  EXPECT_TRUE(kmztile::platform::TakeProblems().empty());
  EXPECT_TRUE(list(Path("file")).empty());
  auto problems = kmztile::platform::TakeProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].reason.find("is a file where a folder belongs"), std::string::npos) << problems[0].reason;
  kmztile::platform::FailNthOperation(kmztile::platform::FileOp::Directory, 1);
  EXPECT_TRUE(list(Path("folder")).empty());
  kmztile::platform::ResetFaultInjection();
  problems = kmztile::platform::TakeProblems();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].reason.find("cannot be listed"), std::string::npos) << problems[0].reason;
}

// A file looked at, then opened by name: a FIFO put in its place between the
// two made the open wait for a writer forever. The name here swaps between a
// plain file and a FIFO while it is opened again and again.
TEST_F(HostileFolderTest, AFileSwappedForAFifoWhileOpenedNeverBlocks) {
  const std::string path = Path("model.dae"), other = Path("other");
  kmztest::WriteFile(path, "<COLLADA/>");
  ASSERT_EQ(::mkfifo(other.c_str(), 0600), 0);
  std::atomic<bool> stop{false};
  std::thread swapper([&] {
    while (!stop) ::renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE);
  });
  auto opens = std::async(std::launch::async, [&] {
    int plain = 0;
    for (int i = 0; i < 20000; ++i) {
      std::ifstream in;
      if (!kmztile::platform::OpenInput(in, path, true)) continue;
      std::string text;
      std::getline(in, text);
      EXPECT_EQ(text, "<COLLADA/>");
      ++plain;
    }
    return plain;
  });
  const bool prompt = opens.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
  stop = true;
  swapper.join();
  if (!prompt) {
    ADD_FAILURE() << "an open blocked on the FIFO swapped in for " << path;
    for (const std::string& name : {path, other}) {  // a writer lets the blocked open return
      const int unblock = ::open(name.c_str(), O_WRONLY | O_NONBLOCK);
      if (unblock >= 0) ::close(unblock);
    }
  }
  EXPECT_GT(opens.get(), 0);
}

// Temporary names carry the process id so that two workers writing the same
// file never share one; the id is kept between calls, and a forked worker
// must not keep its parent's.
TEST_F(HostileFolderTest, AForkedWorkerNamesItsTemporaryFilesAfterItself) {
  const std::string parentName = kmztile::platform::TemporarySibling(Path("tile.kmz"));
  EXPECT_NE(parentName.find("." + std::to_string(::getpid()) + "."), std::string::npos) << parentName;
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const std::string own = "." + std::to_string(::getpid()) + ".";
    const bool ok = kmztile::platform::TemporarySibling(Path("tile.kmz")).find(own) != std::string::npos &&
                    kmztile::platform::ProcessId() == static_cast<long>(::getpid());
    ::_exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child named its files after its parent";
  EXPECT_EQ(kmztile::platform::ProcessId(), static_cast<long>(::getpid()));
}

// The build hard-links source files into its working folder; a write through
// such a link once emptied the user's coords.txt. Every writer replaces the
// file with a new one, so the other name keeps the old bytes.
TEST_F(HostileFolderTest, WritersNeverChangeAFileThroughAHardLink) {
  CBaseParser parser;
  const std::map<std::string, std::function<bool(const std::string&)>> writers = {
      {"WriteWholeFile", [](const std::string& p) { return kmztile::platform::WriteWholeFile(p, "new"); }},
      {"WriteFileAtomically", [](const std::string& p) { return kmztile::platform::WriteFileAtomically(p, "new"); }},
      {"KmlWriteStringToFile", [](const std::string& p) { return kmztile::platform::KmlWriteStringToFile("new", p); }},
      {"CopyFileW", [&](const std::string& p) {
         kmztest::WriteFile(Path("copy-source"), "new");
         return CBaseParserTestAccess::CopyFileW(parser, Path("copy-source"), p);
       }},
  };
  for (const auto& [name, write] : writers) {
    const std::string user = Path(name + "-user.txt"), link = Path(name + "-staged.txt");
    kmztest::WriteFile(user, "user's bytes");
    fs::create_hard_link(user, link);
    ASSERT_TRUE(write(link)) << name;
    EXPECT_EQ(kmztest::ReadFile(link), "new") << name;
    EXPECT_EQ(kmztest::ReadFile(user), "user's bytes") << name;
  }

  // Packaging a staged copy whose coords.txt and template are links to the user's.
  const std::string src = Path("src"), staged = Path("staged");
  LayOutSource(src);
  kmztest::WriteFile(src + "/middle/coords.txt", "user's coordinates");
  fs::create_directories(staged + "/middle");
  fs::create_hard_link(src + "/middle/coords.txt", staged + "/middle/coords.txt");
  for (const char* f : {"/doc.kml", "/0001.dae", "/0001.txt"}) fs::create_hard_link(src + f, staged + f);
  const std::string docBefore = kmztest::ReadFile(src + "/doc.kml");
  ASSERT_TRUE(Package(staged));
  EXPECT_EQ(kmztest::ReadFile(src + "/middle/coords.txt"), "user's coordinates");
  EXPECT_EQ(kmztest::ReadFile(src + "/doc.kml"), docBefore);
}

// Moving a package reached through a link rewrites the file the link names
// and keeps the link; a read-only package stays read-only.
TEST_F(HostileFolderTest, MoveKeepsTheLinkAndThePermissions) {
  const std::string real = Path("store/house.kmz"), link = Path("house.kmz");
  LayOutSource(Path("src"));
  ASSERT_TRUE(Package(Path("src")));
  fs::create_directories(Path("store"));
  fs::copy_file(Path("src/middle/0001.kmz"), real);
  fs::permissions(real, fs::perms::owner_read | fs::perms::group_read);
  fs::create_symlink(real, link);

  ASSERT_TRUE(CBaseParser::UpdateLocationInKml(link, 116.5, 39.9));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(fs::status(real).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::group_read);
  std::vector<std::string> names, contents;
  std::map<std::string, LonLatID> locations;
  ASSERT_TRUE(CBaseParser::ReadKmzToList(link, names, contents, locations));
  ASSERT_FALSE(locations.empty());
  EXPECT_DOUBLE_EQ(locations.begin()->second.Lon, 116.5);
  for (const auto& e : fs::directory_iterator(Path("store")))
    EXPECT_EQ(e.path().filename(), "house.kmz") << "a temporary file was left behind";
}

// Clearing deletes only the files the import and the tile builder make, and
// neither clearing nor an import works through a level folder that is a link.
TEST_F(HostileFolderTest, ClearingDeletesOnlyWhatTheLibraryMade) {
  const std::string work = Path("work");
  kmztest::WriteFile(work + "/a.kmz", "package");
  for (int n = 1; n <= 4; ++n)
    for (const char* f : {"a.kml", "a.dae", "18-1-2.kmz", "notes.kml", "b.dae"})
      kmztest::WriteFile(work + "/" + std::to_string(n) + "/" + f, f);
  CBaseParser parser;
  parser.SetRequireFile(work, "", "");
  ASSERT_TRUE(parser.DeleteFileAndDirectory(work + "\\"));
  for (int n = 1; n <= 4; ++n) {
    const std::string level = work + "/" + std::to_string(n) + "/";
    EXPECT_FALSE(kmztest::Exists(level + "a.kml") || kmztest::Exists(level + "a.dae") || kmztest::Exists(level + "18-1-2.kmz"));
    EXPECT_TRUE(kmztest::Exists(level + "notes.kml") && kmztest::Exists(level + "b.dae")) << level;
  }

  // A level folder that is a link to someone else's folder stops the clearing.
  kmztest::WriteFile(Path("elsewhere/a.kml"), "not ours");
  for (int n = 1; n <= 4; ++n) fs::remove_all(work + "/" + std::to_string(n));
  fs::create_directory_symlink(Path("elsewhere"), work + "/1");
  EXPECT_FALSE(parser.DeleteFileAndDirectory(work + "\\"));
  LayOutSource(Path("src"));  // a real package to import
  ASSERT_TRUE(Package(Path("src")));
  fs::copy_file(Path("src/middle/0001.kmz"), work + "/0001.kmz");
  EXPECT_FALSE(parser.EarlyPrepare("")) << "an import wrote through the link";
  EXPECT_EQ(kmztest::ReadFile(Path("elsewhere/a.kml")), "not ours");
  EXPECT_EQ(std::distance(fs::directory_iterator(Path("elsewhere")), fs::directory_iterator()), 1);

  // Nor does building a tile, which reads the level folders' models and
  // writes its own files there: it replaced a file of the linked folder.
  const std::string middle = Path("src/middle");
  CBaseParser builder;
  builder.SetRequireFile(middle, middle + "/scope.txt", middle + "/coords.txt");
  ASSERT_TRUE(builder.EarlyPrepare(""));
  const double size = 360.0 / (1 << 18);  // model 0001 stands at 116.37350704, 39.91951240
  const long row = static_cast<long>((90 - 39.91951240) / size);
  const long column = static_cast<long>((116.37350704 + 180) / size);
  const std::string tile = "18-" + std::to_string(row) + "-" + std::to_string(column);
  std::string kmz;
  ASSERT_TRUE(builder.CreateTile(CreateGeographicPyramid(), 18, row, column, &kmz));
  ASSERT_FALSE(kmz.empty());
  fs::rename(middle + "/1", Path("level18"));
  kmztest::WriteFile(Path("level18/" + tile + ".kmz"), "not ours");
  fs::create_directory_symlink(Path("level18"), middle + "/1");
  EXPECT_FALSE(builder.CreateTile(CreateGeographicPyramid(), 18, row, column, &kmz));
  EXPECT_EQ(kmztest::ReadFile(Path("level18/" + tile + ".kmz")), "not ours");
}

// A build empties its output and working folders: one that is or holds the
// source, in any spelling, is refused; an output folder inside the source,
// or beside it under a name sharing its prefix, is fine.
TEST_F(HostileFolderTest, BuildFoldersThatHoldTheSourceAreRefused) {
  using kmztile::folders::detail::RefuseBuildFolders;
  fs::create_directories(Path("a/src"));
  fs::create_directory_symlink(Path("a"), Path("alias"));
  const auto refused = [](const std::string& src, const std::string& out) {
    return !RefuseBuildFolders(src, out, out + "/work").empty();
  };
  EXPECT_TRUE(refused(Path("a/src"), Path("a/src")));
  EXPECT_TRUE(refused(Path("a/src"), Path("a")));
  EXPECT_TRUE(refused(Path("a/src"), Path("alias")));
  EXPECT_TRUE(refused(Path("a/src"), Path("a/src/../..")));
  EXPECT_TRUE(refused(Path("a/src"), Path("a/src/./")));
  // A name still to be created, then ".." and a link: "new/../into/.." is
  // the link target's parent once the build has made "new", not the folder
  // the text reduces to.
  fs::create_directories(Path("b"));
  fs::create_directory_symlink(Path("a/src"), Path("b/into"));
  EXPECT_TRUE(refused(Path("a/src"), Path("b/new/../into/..")));
  EXPECT_TRUE(refused(Path("a/src"), Path("b/new/../into/../new2/..")));
  EXPECT_FALSE(refused(Path("a/src"), Path("b/new/../into/../../b")));
  EXPECT_FALSE(RefuseBuildFolders(Path("a/out/work/src"), Path("b"), Path("a/out/work")).empty());
  EXPECT_FALSE(refused(Path("a/src"), Path("a/src/out")));
  // Nor may it be a model's texture folder, whose textures would be lost.
  kmztest::WriteFile(Path("a/src/0001.dae"), "<COLLADA/>");
  EXPECT_TRUE(refused(Path("a/src"), Path("a/src/0001")));
  EXPECT_TRUE(refused(Path("alias/src/"), Path("a/src/./0001/")));
  EXPECT_FALSE(refused(Path("a/src"), Path("a/src/0001/out")));
  EXPECT_FALSE(refused(Path("a/src"), Path("a/src2")));
  EXPECT_FALSE(refused(Path("a/src"), Path("a/sr")));
}

// The library never prints, and paths have no length limit of their own: a
// texture folder that is a file is recorded, a folder path far beyond 260
// characters is listed in full.
TEST_F(HostileFolderTest, NothingIsPrintedAndLongPathsKeepTheirFiles) {
  std::string deep = Path("");
  while (deep.size() < 400) deep += "/a-rather-long-folder-name";
  const std::string src = deep + "/src";
  LayOutSource(src);
  fs::copy_file(kCity + "/0002.dae", src + "/0002.dae");
  fs::copy_file(kCity + "/0002.txt", src + "/0002.txt");
  kmztest::WriteFile(src + "/0002", "a file where the texture folder belongs");

  testing::internal::CaptureStdout();
  const bool packaged = Package(src);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  ASSERT_TRUE(packaged);
  const auto entries = Entries(src + "/middle/0001.kmz");
  EXPECT_EQ(entries.count("models/0001/facade.jpg") + entries.count("models/0001/roof.png"), 2u);
  EXPECT_TRUE(Recorded(kmztile::platform::TakeProblems(), "/src/0002"));
}
