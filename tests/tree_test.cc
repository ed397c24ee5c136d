// palfill-tree against the command run alone on every image: each tree of
// tests/trees.txt is made twice, palfill-tree runs over one and palfill,
// image by image with the CLUT the table names, over the other. Both
// folders must then hold the same files, and palfill-tree must print the
// command's lines in the order of the paths, then its summary.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "palfill.h"
#include "png_builder.h"
#include "support.h"

namespace {

namespace fs = std::filesystem;

struct tree_line {
  std::string path;
  std::string content;  // for a file
  std::string target;   // for a link
  std::string clut;     // what the image (or link) comes to: a CLUT, "defaults", "several F",
                        // "unreached", "line LINE", or for a link "loop" or "as FOLDER"
};

struct tree_case {
  std::string name;
  std::vector<std::string> args{"in", "out"};
  bool posix = false;
  std::vector<std::vector<tree_line>> runs;  // the lines of the first run, then of each `then`
};

std::string unescaped(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "\\x") == 0 && i + 3 < text.size()) {
      out += static_cast<char>(std::stoi(text.substr(i + 2, 2), nullptr, 16));
      i += 3;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::vector<tree_case> read_trees() {
  std::ifstream table(PALFILL_TREES);
  std::vector<tree_case> trees;
  for (std::string line; std::getline(table, line);) {
    if (line.empty() || line[0] == '#') continue;
    if (line.compare(0, 5, "tree ") == 0) {
      trees.emplace_back();
      trees.back().name = line.substr(5);
      trees.back().runs.emplace_back();
    } else if (line.compare(0, 4, "run ") == 0) {
      trees.back().args.clear();
      for (std::size_t at = 4, end; at < line.size(); at = end + 1) {
        end = std::min(line.find(' ', at), line.size());
        trees.back().args.push_back(line.substr(at, end - at));
      }
    } else if (line == "posix") {
      trees.back().posix = true;
    } else if (line == "then") {
      trees.back().runs.emplace_back();
    } else {
      tree_line entry;
      const std::size_t arrow = line.find(" -> ");
      if (arrow != std::string::npos) entry.clut = unescaped(line.substr(arrow + 4));
      const std::string file = line.substr(0, arrow);
      const std::size_t link = file.find(" => "), equals = file.find(" = ");
      if (link != std::string::npos) entry.target = file.substr(link + 4);
      if (equals != std::string::npos) entry.content = file.substr(equals + 3);
      entry.path = unescaped(file.substr(0, std::min(link, equals)));
      trees.back().runs.back().push_back(entry);
    }
  }
  return trees;
}

std::string content(const std::string& name, const std::string& path) {
  const std::string examples = PALFILL_EXAMPLES;
  const std::string sample = read_file(examples + "/sample.png");
  const std::map<std::string, std::string> contents = {
      {"sample", sample},
      {"sample4", read_file(examples + "/sample-4bit.png")},
      {"cut", sample.substr(0, 300)},
      {"text", "not a png at all\n"},
      {"empty", ""},
      {"signature", sample.substr(0, 8)},
      {"rgb", read_file(examples + "/rgb.clt")},
      {"ycbcr", read_file(examples + "/ycbcr.clt")},
      {"depth3", "\x60"},
      {"cutclt", read_file(examples + "/ycbcr.clt").substr(0, 100)}};
  const auto ends = [&](const char* suffix) {
    const std::string s = suffix;
    return path.size() >= s.size() && path.compare(path.size() - s.size(), s.size(), s) == 0;
  };
  if (!name.empty()) return contents.at(name);
  return ends(".png") || ends(".PNG") ? sample : ends(".clt") ? contents.at("rgb") : "text\n";
}

void make(const std::string& root, const std::vector<tree_line>& lines) {
  for (const tree_line& line : lines) {
    const fs::path at = fs::path(root) / line.path;
    if (!line.clut.empty() && line.target.empty() && line.content.empty() && fs::exists(at)) {
      continue;  // an image whose expectation alone changes
    }
    fs::create_directories(at.parent_path());
    if (!line.target.empty()) {
      fs::remove(at);
      fs::create_symlink(line.target, at);
    } else if (line.content == "fifo") {
      ASSERT_EQ(mkfifo(at.c_str(), 0600), 0) << at;
    } else if (!fs::is_symlink(at)) {
      ASSERT_TRUE(write_file(at.string(), content(line.content, line.path)));
    }
  }
}

// Every file, folder and link under `root`, links unfollowed, as text for
// comparing: a line for each, with its size and a hash of its bytes.
std::string snapshot(const std::string& root) {
  std::map<std::string, std::string> found;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(root)) {
    const std::string name = fs::relative(entry.path(), root).string();
    if (entry.is_symlink()) {
      found[name] = "link to " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_fifo()) {
      found[name] = "a named pipe";
    } else if (entry.is_directory()) {
      found[name] = "folder";
    } else {
      found[name] = read_file(entry.path().string());
    }
  }
  std::string text;
  for (const auto& [name, what] : found) {
    text += name + ": " + std::to_string(what.size()) + " bytes, hash " +
            std::to_string(std::hash<std::string>()(what)) + "\n";
  }
  return text;
}

std::string shown(std::string path) {  // as palfill-tree prints it here
  if (windows_launcher()) std::replace(path.begin(), path.end(), '/', '\\');
  return path;
}

// A line as palfill-tree prints it: each control character, C1 ones too in
// a UTF-8 name, as \xNN for each of its bytes.
std::string escaped(const std::string& line) {
  bool utf8 = true;
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    const std::size_t more = c < 0x80                ? 0
                             : c >= 0xC2 && c < 0xE0 ? 1
                             : c >= 0xE0 && c < 0xF0 ? 2
                             : c >= 0xF0 && c < 0xF5 ? 3
                                                     : 9;
    for (std::size_t k = 1; k <= more; ++k) {
      utf8 =
          utf8 && i + k < line.size() && (static_cast<unsigned char>(line[i + k]) & 0xC0) == 0x80;
    }
    i += more == 9 ? 0 : more;
    utf8 = utf8 && more != 9;
  }
  std::string out;
  char hex[8];
  for (std::size_t i = 0; i + 1 < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    const auto next = static_cast<unsigned char>(line[i + 1]);
    if (c < 0x20 || c == 0x7F || (utf8 && c == 0xC2 && next >= 0x80 && next <= 0x9F)) {
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
      if (c == 0xC2) {
        std::snprintf(hex, sizeof hex, "\\x%02x", next);
        out += hex;
        ++i;
      }
    } else {
      out += line[i];
    }
  }
  return out + line.back();
}

class tree_test : public temp_dir_test {
 protected:
  // Runs the command over `reference` as palfill-tree would run it over
  // its folder, image by image; gives the lines palfill-tree must print.
  std::string reference_run(const tree_case& tree, const std::map<std::string, tree_line>& images,
                            const std::string& reference) {
    std::vector<std::string> places;
    std::string every;
    for (std::size_t i = 0; i < tree.args.size(); ++i) {
      if (tree.args[i] == "--clut") {
        every = tree.args[++i];
      } else if (tree.args[i] != "--" && tree.args[i] != "-j") {
        places.push_back(tree.args[i]);
      }
    }
    std::string lines;
    std::size_t converted = 0, failed = 0;
    const auto fails = [&](const std::string& in_path, const std::string& line) {
      lines += escaped(in_path + ": " + line + "\n");
      ++failed;
    };
    for (const auto& [path, image] : images) {
      const std::string in_path = shown(path);
      if (image.clut == "unreached") continue;
      if (image.clut == "loop") {
        fails(in_path, "Error : Link to a folder it is inside of " + in_path);
      } else if (image.clut.compare(0, 3, "as ") == 0) {
        fails(in_path, "Error : Folder converted as " + shown(image.clut.substr(3)));
      } else if (image.clut.compare(0, 5, "line ") == 0) {
        fails(in_path, shown(image.clut.substr(5)));
      } else if (image.clut.compare(0, 8, "several ") == 0) {
        fails(in_path, "Error : More than one CLUT file in " + shown(image.clut.substr(8)));
      }
      if (image.clut == "loop" || image.clut.compare(0, 3, "as ") == 0 ||
          image.clut.compare(0, 5, "line ") == 0 || image.clut.compare(0, 8, "several ") == 0) {
        continue;
      }
      const std::string out = places[1] + path.substr(places[0].size());
      // The folders palfill-tree makes for an output; none for an image
      // that leaves none.
      std::vector<fs::path> made;
      for (fs::path folder = fs::path(reference) / out;
           (folder = folder.parent_path()) != reference;) {
        if (!fs::exists(folder)) made.push_back(folder);
      }
      for (auto folder = made.rbegin(); folder != made.rend(); ++folder)
        fs::create_directory(*folder);
      const std::string clut = !every.empty() ? every : image.clut == "defaults" ? "" : image.clut;
      run_options in_folder;
      in_folder.cwd = reference;
      std::vector<std::string> args{in_path};
      if (!clut.empty()) args.push_back(shown(clut));
      args.push_back(shown(out));
      const run_result run = run_palfill(args, in_folder);
      if (!fs::exists(fs::path(reference) / out)) {
        for (const fs::path& folder : made) fs::remove(folder);
      }
      if (run.status == 0) {
        ++converted;
      } else {
        fails(in_path, run.out.substr(0, run.out.size() - 1) + clut_named(clut, in_folder));
      }
    }
    return lines + escaped("Finished " + shown(places[0]) + " -> " + shown(places[1]) + ": " +
                           std::to_string(converted) + " converted, " + std::to_string(failed) +
                           " failed\n");
  }

  // " (CLUT)" for a CLUT whose own failure gives a line that names no file.
  std::string clut_named(const std::string& clut, const run_options& in_folder) {
    if (clut.empty()) return "";
    const std::string sample = std::string(PALFILL_EXAMPLES) + "/sample.png";
    const run_result run = run_palfill({sample, shown(clut), path("scratch.png")}, in_folder);
    const bool named =
        run.out != "Error : Unexpected EOF\n" && run.out != "Error : Unknown depth (3)\n";
    const bool image_failed = fs::remove(path("scratch.png"));  // the CLUT was read whole
    return named || image_failed ? "" : " (" + shown(clut) + ")";
  }
};

std::string lf_only(std::string text) {
  for (std::size_t at; (at = text.find("\r\n")) != std::string::npos;) text.erase(at, 1);
  return text;
}

TEST_F(tree_test, every_tree_gives_what_the_command_gives_image_by_image) {
  const std::vector<tree_case> trees = read_trees();
  ASSERT_GE(trees.size(), 10u);
  for (std::size_t t = 0; t < trees.size(); ++t) {
    const tree_case& tree = trees[t];
    if (tree.posix && !posix_part(("what Wine cannot show: " + tree.name).c_str())) {
      continue;
    }
    SCOPED_TRACE(tree.name);
    const std::string tool = path(std::to_string(t) + "/tool"),
                      reference = path(std::to_string(t) + "/ref");
    std::map<std::string, tree_line> images;  // in the order of their paths, as palfill-tree goes
    for (std::size_t round = 0; round < tree.runs.size(); ++round) {
      make(tool, tree.runs[round]);
      make(reference, tree.runs[round]);
      for (const tree_line& line : tree.runs[round]) {
        if (!line.clut.empty()) images[line.path] = line;
      }
      const std::string want = reference_run(tree, images, reference);
      run_options in_folder;
      in_folder.cwd = tool;
      in_folder.tree = true;
      std::vector<std::string> args = tree.args;
      for (std::string& arg : args) arg = shown(arg);
      for (const char* jobs : {"-j1", "-j3"}) {
        SCOPED_TRACE(jobs);
        if (jobs[2] == '3') {  // the same run again, over what the first left
          args.insert(args.begin(), jobs);
        }
        const run_result run = run_palfill(args, in_folder);
        EXPECT_EQ(lf_only(run.raw_out), want) << "round " << round;
        EXPECT_EQ(run.status, want.find(" 0 failed\n") != std::string::npos ? 0 : 1);
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(snapshot(tool), snapshot(reference)) << "round " << round;
      }
    }
  }
}

// On a terminal, palfill-tree draws its progress on standard error and
// erases it at the end; the lines on standard output stay the same. When
// they go elsewhere, the terminal hears how the run ended too.
TEST_F(tree_test, progress_and_the_end_show_on_a_terminal_alone) {
  SKIP_UNDER_LAUNCHER("a pseudo-terminal");
  const std::string sample = read_file(std::string(PALFILL_EXAMPLES) + "/sample.png");
  for (const char* name : {"in/a.png", "in/b/c.png", "in/b/d.png"}) {
    fs::create_directories(fs::path(path(name)).parent_path());
    ASSERT_TRUE(write_file(path(name), sample));
  }
  run_options terminal;
  terminal.tree = true;
  terminal.cwd = path("");
  terminal.stderr_terminal = true;
  const std::string summary = "Finished in -> out: 3 converted, 0 failed\n";
  const run_result run = run_palfill({"in", "out"}, terminal);
  EXPECT_EQ(run.out, summary);
  EXPECT_NE(run.err.find("\r3/3 images"), std::string::npos) << run.err;
  const std::string end =
      "\r" + summary.substr(0, summary.size() - 1) + "\r\n";  // the terminal's CRLF
  EXPECT_EQ(run.err.substr(run.err.size() - std::min(run.err.size(), end.size())), end);
  const run_result missing = run_palfill({"missing", "out"}, terminal);
  EXPECT_EQ(missing.out, "Error : Can't open folder missing\n");
  EXPECT_EQ(missing.err, "Error : Can't open folder missing\r\n");
}

// Wrong arguments and an IN_DIR that cannot be read stop the run at once,
// a mistake named on standard error first.
TEST_F(tree_test, a_run_that_cannot_start_says_why) {
  ASSERT_TRUE(write_file(path("file"), "not a folder"));
  const std::string usage = "Usage : palfill-tree [-j N] [--clut FILE] IN_DIR OUT_DIR\n";
  const std::string jobs = "palfill-tree: -j takes a number from 1 to 1024\n";
  const struct {
    std::vector<std::string> args;
    std::string out;  // what it begins with
    std::string err;
    int status;
  } cases[] = {
      {{}, usage, "", 2},
      {{"in"}, usage, "", 2},
      {{"in", "out", "more"}, usage, "", 2},
      {{"-j", "0", "in", "out"}, usage, jobs, 2},
      {{"-j1025", "in", "out"}, usage, jobs, 2},
      {{"-j", "+2", "in", "out"}, usage, jobs, 2},
      {{"-j"}, usage, jobs, 2},
      {{"--jobs", "2", "in", "out"}, usage, "palfill-tree: no option --jobs\n", 2},
      {{"--colours", "x", "in", "out"}, usage, "palfill-tree: no option --colours\n", 2},
      {{"in", "out", "--clut"}, usage, "palfill-tree: --clut takes a file\n", 2},
      {{"--help"}, usage + "Converts every .png under IN_DIR", "", 0},
      {{"--version"}, std::string("palfill-tree ") + palfill_version() + "\n", "", 0},
      {{"missing", "out"}, "Error : Can't open folder missing\n", "", 2},
      {{"file", "out"}, "Error : Can't open folder file\n", "", 2},
  };
  for (const auto& c : cases) {
    run_options in_folder;
    in_folder.tree = true;
    in_folder.cwd = path("");
    const run_result run = run_palfill(c.args, in_folder);
    EXPECT_EQ(lf_only(run.raw_out).substr(0, c.out.size()), c.out);
    EXPECT_EQ(lf_only(run.err), c.err);
    EXPECT_EQ(run.status, c.status);
    EXPECT_FALSE(fs::exists(path("out")));
  }
}

// Threads the system will not give (here, no room for their stacks): the
// run goes on with those it has, down to none, and never aborts.
TEST_F(tree_test, threads_that_cannot_be_made_leave_the_run_to_those_there_are) {
  SKIP_UNDER_EMULATION("palfill-tree's own address space");
#ifndef PALFILL_SANITIZED  // the sanitizers' runtime cannot start under an address-space limit
  const std::string sample = read_file(std::string(PALFILL_EXAMPLES) + "/sample.png");
  fs::create_directory(path("in"));
  for (int i = 0; i < 40; ++i) {
    ASSERT_TRUE(write_file(path("in/" + std::to_string(i) + ".png"), sample));
  }
  for (const unsigned long limit : {64ul << 20, 256ul << 20}) {
    run_options limited;
    limited.tree = true;
    limited.cwd = path("");
    limited.address_space_limit = limit;
    const run_result run = run_palfill({"-j", "1024", "in", "out"}, limited);
    EXPECT_EQ(run.out, "Finished in -> out: 40 converted, 0 failed\n") << limit;
    EXPECT_EQ(run.status, 0);
    fs::remove_all(path("out"));
  }
#endif
}

}  // namespace
