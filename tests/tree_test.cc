// palfill-tree against the command run alone on every image: each tree of
// tests/trees.txt is made twice, palfill-tree runs over one and palfill,
// image by image with the CLUT the table names, over the other. Both
// folders must then hold the same files, and palfill-tree must print the
// command's lines in the order of the paths, then its summary.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
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
  std::string source;   // for a rendering named apart: its image
  std::string clut;     // what the image (or link) comes to: a CLUT, "defaults", "several F",
                        // "unreached", "line LINE", or for a link "loop" or "as FOLDER"
};

struct tree_case {
  std::string name;
  std::vector<std::string> args{"in", "out"};
  bool posix = false;
  std::vector<std::vector<tree_line>> runs;  // the lines of the first run, then of each `then`
};

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
      const std::size_t equals = file.find(" = ");
      if (equals != std::string::npos) entry.content = unescaped(file.substr(equals + 3));
      const std::string named = file.substr(0, equals);
      const std::size_t link = named.find(" => "), source = named.find(" <= ");
      if (link != std::string::npos) entry.target = named.substr(link + 4);
      if (source != std::string::npos) entry.source = named.substr(source + 4);
      entry.path = unescaped(named.substr(0, std::min(link, source)));
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
  if (name.compare(0, 5, "text:") == 0) return name.substr(5);
  if (!name.empty()) return contents.at(name);
  return ends(".png") || ends(".PNG") ? sample : ends(".clt") ? contents.at("rgb") : "text\n";
}

void make(const std::string& root, const std::vector<tree_line>& lines) {
  for (const tree_line& line : lines) {
    const fs::path at = fs::path(root) / line.path;
    if (!line.source.empty()) continue;  // a rendering: no file of the tree
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

bool is_image(const std::string& path) {
  const std::string end = path.substr(path.size() - std::min<std::size_t>(4, path.size()));
  return end == ".png" || end == ".PNG";
}

// The folders of palfill-tree's arguments, IN_DIR then OUT_DIR, and the
// CLUT for every image, if any.
std::vector<std::string> places_of(const std::vector<std::string>& args, std::string* every) {
  std::vector<std::string> places;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--clut") {
      *every = args[++i];
    } else if (args[i] != "--" && args[i] != "-j") {
      places.push_back(args[i]);
    }
  }
  return places;
}

class tree_test : public temp_dir_test {
 protected:
  // Runs the command over `reference` as palfill-tree would run it over
  // its folder, image by image; gives the lines palfill-tree must print.
  std::string reference_run(const tree_case& tree,
                            const std::multimap<std::string, tree_line>& images,
                            const std::string& reference) {
    std::string every;
    const std::vector<std::string> places = places_of(tree.args, &every);
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
      std::vector<std::string> args{shown(image.source.empty() ? path : image.source)};
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

  // `--plan` over a fresh copy of the tree lists every rendering the table
  // holds, with its CLUT, in the order of their outputs; `--use-plan` with
  // that plan over the copy then leaves what the walk left in `reference`.
  void check_plan(const tree_case& tree, const std::multimap<std::string, tree_line>& images,
                  const std::string& reference, const std::string& planned) {
    std::string every;
    const std::vector<std::string> places = places_of(tree.args, &every);
    const std::string& top = places[0];
    const bool given = !every.empty();
    std::vector<std::string> plan_args{"--plan"}, use_args{"--use-plan", path("plan.txt"), "--"};
    if (given) plan_args.insert(plan_args.end(), {"--clut", shown(every)});
    plan_args.insert(plan_args.end(), {"--", shown(top)});
    use_args.insert(use_args.end(), {shown(top), shown(places[1])});
    std::set<std::string> want;
    for (const auto& [at, line] : images) {
      const std::string& what = line.clut;
      if (!is_image(at) || what == "unreached") continue;
      // Lines that come before anything is read are the plan's; the others
      // come of reading or writing, and the plan lists a CLUT there.
      // A rendering named as another output is no row of the plan.
      if (what.compare(0, 25, "line Error : Rendering of") == 0) continue;
      const bool planned_line = what.compare(0, 8, "several ") == 0 ||
                                what.compare(0, 28, "line Error : Can't open file") == 0;
      const std::string clut = given                              ? "given"
                               : what == "defaults"               ? "-"
                               : planned_line                     ? "!"
                               : what.compare(0, 5, "line ") == 0 ? "?"
                                                                  : what.substr(top.size() + 1);
      const std::string source = line.source.empty() ? at : line.source;
      want.insert(at.substr(top.size() + 1) + "\t" + source.substr(top.size() + 1) + "\t" + clut);
    }
    make(planned, tree.runs[0]);
    run_options in_folder;
    in_folder.cwd = planned;
    in_folder.tree = true;
    const run_result plan = run_palfill(plan_args, in_folder);
    EXPECT_EQ(plan.status, 0) << plan.err;
    std::set<std::string> got;
    std::string previous;
    for (std::size_t at = 0, end; at < plan.out.size(); at = end + 1) {
      end = plan.out.find('\n', at);
      const std::string row = plan.out.substr(at, end - at);
      EXPECT_LT(previous, row.substr(0, row.find('\t')));
      previous = row.substr(0, row.find('\t'));
      std::string fields = row.substr(0, row.rfind('\t'));
      const std::size_t clut = fields.rfind('\t') + 1;
      if (given) {
        EXPECT_NE(fields.find(".clt", clut), std::string::npos) << row;
        fields.replace(clut, std::string::npos, "given");
      }
      fields = unescaped(fields);
      const std::string unknown = fields.substr(0, fields.rfind('\t') + 1) + "?";
      // Without OUT_DIR, the plan lists what an OUT_DIR inside IN_DIR holds;
      // --use-plan reads none of it.
      const std::string out_dir =
          places[1].substr(std::min(places[1].size(), top.size() + 1)) + "/";
      if (places[1].compare(0, top.size() + 1, top + "/") == 0 &&
          fields.compare(0, out_dir.size(), out_dir) == 0)
        continue;
      got.insert(want.count(unknown) != 0 ? unknown : fields);
    }
    EXPECT_EQ(got, want);
    ASSERT_TRUE(write_file(path("plan.txt"), plan.out));
    const run_result used = run_palfill(use_args, in_folder);
    EXPECT_NE(used.status, 2) << used.out;
    EXPECT_EQ(snapshot(planned), snapshot(reference));
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
    // In the order of their paths, as palfill-tree goes; a rendering may
    // share its path with the image whose name it takes.
    std::multimap<std::string, tree_line> images;
    for (std::size_t round = 0; round < tree.runs.size(); ++round) {
      make(tool, tree.runs[round]);
      make(reference, tree.runs[round]);
      std::multimap<std::string, tree_line> changed;
      for (const tree_line& line : tree.runs[round]) {
        if (!line.clut.empty()) changed.emplace(line.path, line);
      }
      for (const auto& [path, line] : changed) images.erase(path);
      images.insert(changed.begin(), changed.end());
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
      if (round == 0) check_plan(tree, images, reference, path(std::to_string(t) + "/plan"));
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
  const std::string usage =
      "Usage : palfill-tree [-j N] [--clut FILE] IN_DIR OUT_DIR\n"
      "        palfill-tree --plan [--clut FILE] IN_DIR\n"
      "        palfill-tree [-j N] --use-plan FILE IN_DIR OUT_DIR\n";
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

// A plan converts what it says, and a line it cannot use fails on its own
// as FILE:N; the rest go on.
TEST_F(tree_test, a_plan_converts_what_it_says_and_names_the_lines_it_cannot_use) {
  const std::string sample = read_file(std::string(PALFILL_EXAMPLES) + "/sample.png");
  fs::create_directories(path("in/sub"));
  ASSERT_TRUE(write_file(path("in/a.png"), sample));
  ASSERT_TRUE(write_file(path("in/sub/b.png"), sample));
  ASSERT_TRUE(fs::copy_file(std::string(PALFILL_EXAMPLES) + "/rgb.clt", path("in/sub/c.clt")));
  const struct {
    std::string row;
    std::string line;  // "" for a rendering that converts
  } rows[] = {
      {"a.png\ta.png\t-\tdefaults", ""},
      {"sub/b@x.png\tsub/b.png\tsub/c.clt\tdocument d.bml", ""},
      {"c\\x40d.png\tsub/b.png\t-\tfolder", ""},  // c@d.png
      {"a.png\tsub/b.png\t-\tdefaults", "plan.txt:4: Error : Not a plan line"},
      {"/abs.png\ta.png\t-\tdefaults", "plan.txt:5: Error : Not a plan line"},
      {"x.png\tsub/../a.png\t-\tdefaults", "plan.txt:6: Error : Not a plan line"},
      {"y.png\ta.png\t-", "plan.txt:7: Error : Not a plan line"},
      {"w.png\ta.png\t-\tdefaults\tmore", "plan.txt:8: Error : Not a plan line"},
      {"q.png\ta.png\t\\q\tdefaults", "plan.txt:9: Error : Not a plan line"},
      {"z.png\ta.png\t!\tError : Settled by hand", "in/z.png: Error : Settled by hand"},
  };
  std::string plan, lines;
  for (const auto& r : rows) {
    plan += r.row + "\n";
    if (!r.line.empty()) lines += shown(r.line) + "\n";
  }
  ASSERT_TRUE(write_file(path("plan.txt"), plan));
  run_options in_folder;
  in_folder.tree = true;
  in_folder.cwd = path("");
  const run_result run = run_palfill({"--use-plan", "plan.txt", "in", "out"}, in_folder);
  EXPECT_EQ(lf_only(run.raw_out), lines + shown("Finished in -> out: 3 converted, 7 failed\n"));
  EXPECT_EQ(run.status, 1);
  run_options alone;
  alone.cwd = path("in");
  for (const auto& [input, clut, output] : {std::array<std::string, 3>{"a.png", "", "a.png"},
                                            {"sub/b.png", "sub/c.clt", "sub/b@x.png"},
                                            {"sub/b.png", "", "c@d.png"}}) {
    std::vector<std::string> args{shown(input), shown("../want")};
    if (!clut.empty()) args.insert(args.begin() + 1, shown(clut));
    ASSERT_EQ(run_palfill(args, alone).status, 0);
    EXPECT_TRUE(read_file(path("out/" + output)) == read_file(path("want"))) << output;
  }
  // A pairing names the first of its documents in byte order, whatever
  // order their folder lists them in.
  for (const char* name : {"in/sub/z.bml", "in/sub/m.bml", "in/sub/t.bml"}) {
    ASSERT_TRUE(write_file(path(name), "<object type=\"image/X-arib-png\" data=\"b.png\">"));
  }
  const run_result planned = run_palfill({"--plan", "in"}, in_folder);
  EXPECT_NE(planned.out.find("sub/b.png\tsub/b.png\t-\tdocument sub/m.bml\n"), std::string::npos)
      << planned.out;
  // A plan that cannot be read to its end is a failure, not an end:
  // /proc/self/mem opens, and its first read fails.
  if (!posix_part("a plan file whose read fails")) return;
  const run_result unread = run_palfill({"--use-plan", "/proc/self/mem", "in", "out"}, in_folder);
  EXPECT_EQ(unread.out,
            "/proc/self/mem: Error : Can't read file /proc/self/mem\n"
            "Finished in -> out: 0 converted, 1 failed\n");
  EXPECT_EQ(unread.status, 1);
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
