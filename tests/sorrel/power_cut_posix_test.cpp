// What a power cut can leave of a run, and the next run on each of it.
//
// A run over four areas records every change it makes to the disk and every
// sync (the platform layer's disk recorder).  From that record the test
// builds the states a POSIX file system may show after a power cut at any
// point: a file sync makes that file's data and size durable, not its name;
// a directory sync makes the names in that directory durable; of the
// changes not yet durable, any prefix in the order they were made, plus any
// subset of the renames and deletions of one directory.  A clean run on
// every distinct state must leave exactly what the undisturbed run left:
// nothing kept is lost, no header has another message's text, no next-read
// number goes back.
//
// The journal knows files by their identity, which files written anew for
// a state do not have: the identities in a state's journals are rewritten
// to those of the files that now stand for them.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <unordered_set>

#include "journal_identities.h"
#include "sorrel_crash.h"

namespace {

constexpr int kDirectory = -2;
constexpr size_t kMostStates = 2000;

// A file of the model: its bytes as the change being applied leaves them.
struct Object {
  std::string data;
  uint64_t ino = 0;
  size_t created = 0;  // the change that made it (0: there before the run)
};

// A name set to an object (kDirectory for a directory) or, with `object`
// -1, removed when it still names `was`.
struct Effect {
  std::string path;
  int object;
  int was;
};

struct Change {
  enum Kind { Write, Truncate, Names, FileSync, DirSync } kind;
  int object = -1;
  int64_t offset = 0;  // Write: where; Truncate: the length
  std::string bytes;
  std::string dir;           // Names and DirSync
  bool reorderable = false;  // a rename or deletion: may reach the disk out of order
  std::vector<Effect> effects;
};

std::string Parent(const std::string &path) {
  size_t cut = path.find_last_of('/');
  return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

struct Model {
  std::vector<Object> objects;
  std::map<std::string, int> initial;  // names before the run
  std::vector<Change> changes;         // changes[i] is change i + 1

  // The record's lines turned into changes on objects.
  void Read(const std::string &record, const std::string &root) {
    std::map<std::string, int> names = initial;
    std::map<uint64_t, int> byIno;
    for (size_t o = 0; o < objects.size(); ++o) byIno[objects[o].ino] = int(o);
    // Paths are absolute, or relative to the board's directory, where the
    // run was started.
    auto relative = [&](const std::string &host, std::string &rel) {
      if (host.compare(0, root.size(), root) == 0)
        rel = host.substr(root.size());
      else if (!host.empty() && host[0] != '/')
        rel = host;
      else
        return false;
      return rel.rfind("MSG", 0) == 0 || rel.rfind("USERS", 0) == 0 || rel.rfind("ATTACH", 0) == 0;
    };
    std::istringstream in(record);
    std::string line;
    while (std::getline(in, line)) {
      std::vector<std::string> f;
      std::istringstream fields(line);
      for (std::string x; std::getline(fields, x, '\t');) f.push_back(x);
      const std::string &kind = f[0];
      Change c;
      std::string a, b;
      if (kind == "open") {
        if (!relative(f[2], a)) continue;
        uint64_t ino = std::stoull(f[1]);
        if (f[3] == "1" || !names.count(a)) {
          objects.push_back({"", ino, changes.size() + 1});
          int o = int(objects.size()) - 1;
          byIno[ino] = o;
          c.kind = Change::Names;
          c.dir = Parent(a);
          c.effects = {{a, o, -1}};
          names[a] = o;
        } else {
          byIno[ino] = names.at(a);
          if (f[4] != "1") continue;
          c.kind = Change::Truncate;
          c.object = names.at(a);
        }
      } else if (kind == "write" || kind == "truncate" || kind == "fsync") {
        auto it = byIno.find(std::stoull(f[1]));
        if (it == byIno.end()) continue;
        c.object = it->second;
        c.kind = kind == "write" ? Change::Write : kind == "truncate" ? Change::Truncate : Change::FileSync;
        if (kind == "truncate") c.offset = std::stoll(f[2]);
        if (kind == "write") {
          c.offset = std::stoll(f[2]);
          for (size_t i = 0; i + 1 < f[3].size(); i += 2) c.bytes += char(std::stoi(f[3].substr(i, 2), nullptr, 16));
        }
      } else if (kind == "rename" || kind == "exchange" || kind == "link") {
        if (!relative(f[1], a) || !relative(f[2], b)) continue;
        int oa = names.at(a), ob = names.count(b) ? names[b] : -1;
        c.kind = Change::Names;
        c.dir = Parent(b);
        c.reorderable = kind != "link";
        if (kind == "exchange") {
          c.effects = {{a, ob, -1}, {b, oa, -1}};
          names[a] = ob;
          names[b] = oa;
        } else {
          c.effects = {{b, oa, -1}};
          if (kind == "rename") c.effects.push_back({a, -1, oa}), names.erase(a);
          names[b] = oa;
        }
      } else if (kind == "delete" || kind == "rmdir" || kind == "mkdir") {
        if (!relative(f[1], a)) continue;
        if (kind != "delete") a += "/";
        c.kind = Change::Names;
        c.dir = Parent(kind == "delete" ? a : a.substr(0, a.size() - 1));
        c.reorderable = kind != "mkdir";
        if (kind == "mkdir") {
          c.effects = {{a, kDirectory, -1}};
          names[a] = kDirectory;
        } else {
          c.effects = {{a, -1, names.at(a)}};
          names.erase(a);
        }
      } else if (kind == "dirsync") {
        if (!relative(f[1], a)) continue;
        c.kind = Change::DirSync;
        c.dir = a;
      } else {
        continue;
      }
      changes.push_back(c);
    }
  }

  // The names and objects after applying the kept changes of 1..crash, in
  // order; `written[o]` is the last change that wrote object o.
  void Apply(const std::vector<bool> &kept, size_t crash, std::map<std::string, int> &names,
             std::vector<std::string> &data, std::vector<size_t> &written) const {
    names = initial;
    data.clear();
    written.assign(objects.size(), 0);
    for (const Object &o : objects) data.push_back(o.created ? std::string() : o.data);
    for (size_t i = 1; i <= crash; ++i) {
      if (!kept[i]) continue;
      const Change &c = changes[i - 1];
      if (c.kind == Change::Write) {
        std::string &d = data[c.object];
        if (d.size() < size_t(c.offset) + c.bytes.size()) d.resize(size_t(c.offset) + c.bytes.size(), '\0');
        d.replace(size_t(c.offset), c.bytes.size(), c.bytes);
        written[c.object] = i;
      } else if (c.kind == Change::Truncate) {
        data[c.object].resize(size_t(c.offset), '\0');
      } else if (c.kind == Change::Names) {
        for (const Effect &e : c.effects) {
          if (e.object != -1)
            names[e.path] = e.object;
          else if (names.count(e.path) && names[e.path] == e.was)
            names.erase(e.path);
        }
      }
    }
  }
};

// The object with that identity when change `at` was made.
int ObjectAt(const Model &m, uint64_t ino, size_t at) {
  int found = -1;
  for (size_t o = 0; o < m.objects.size(); ++o)
    if (m.objects[o].ino == ino && m.objects[o].created <= at &&
        (found < 0 || m.objects[o].created >= m.objects[found].created))
      found = int(o);
  return found;
}

// One state written into the board's directory, its journals' identities
// rewritten to the files now standing for the objects they named.
void Materialize(const st::Board &b, const Model &m, const std::map<std::string, int> &names,
                 const std::vector<std::string> &data, const std::vector<size_t> &written) {
  for (const char *top : {"MSG", "USERS", "ATTACH"}) std::filesystem::remove_all(b.dir / top);
  std::map<int, std::string> placed;
  for (const auto &[path, o] : names) {
    if (o == kDirectory) vt::MakeDirs(b.dir / path);
  }
  for (const auto &[path, o] : names) {
    if (o == kDirectory) continue;
    vt::MakeDirs(Parent(b.dir / path));
    if (placed.count(o))
      std::filesystem::create_hard_link(b.dir / placed[o], b.dir / path);
    else
      vt::WriteFile(b.dir / path, data[o]), placed[o] = path;
  }
  for (const auto &[path, o] : names) {
    if (o == kDirectory || !st::IsJournalName(path)) continue;
    vt::WriteFile(b.dir / path, st::RewriteJournalIdentities(data[o], [&](JournalFile &file) {
      int named = ObjectAt(m, file.Index, written[o]);
      struct stat st;
      if (named >= 0 && placed.count(named) && ::stat((b.dir / placed[named]).c_str(), &st) == 0) {
        file.Volume = st.st_dev;
        file.Index = st.st_ino;
      } else {
        file.Index = ~0ull;  // gone: stands for no file
      }
    }));
  }
}

// Areas packed in one group, and in groups of one area each, so that later
// areas take the emptied former files of earlier ones as their new files.
class PowerCut : public ::testing::TestWithParam<const char *> {};

TEST_P(PowerCut, EveryStateAPowerCutCanLeaveIsSettledByTheNextRun) {
  const std::vector<std::string> args = {"-LINKALL"};
  const std::string groupAreas = GetParam();
  st::Board b;
  st::Build(b);
  Model m;
  for (const auto &[path, bytes] : st::Files(b)) {
    if (bytes == "<dir>") {
      m.initial[path + "/"] = kDirectory;
      continue;
    }
    struct stat st;
    ASSERT_EQ(::stat((b.dir / path).c_str(), &st), 0);
    m.objects.push_back({bytes, uint64_t(st.st_ino), 0});
    m.initial[path] = int(m.objects.size()) - 1;
  }
  std::string record = b.dir / "DISK.REC";
  ASSERT_EQ(b.Run(args, {{"VLM_RECORD_DISK", record}, {"VLM_GROUP_AREAS", groupAreas}}).status, 0);
  st::Snapshot once = st::Files(b);
  m.Read(vt::ReadFile(record), b.dir.Path());
  const size_t n = m.changes.size();
  ASSERT_GT(n, 80u);

  // Every state, each kept once: what survives a cut after change `crash`.
  std::vector<std::vector<bool>> states;
  std::vector<size_t> crashes;
  std::unordered_set<size_t> seen;
  size_t generated = 0;
  std::map<std::string, int> names;
  std::vector<std::string> data;
  std::vector<size_t> written;
  for (size_t crash = 0; crash <= n; ++crash) {
    // Durable by a sync made before the cut.
    std::vector<bool> durable(n + 1, false);
    std::map<int, size_t> fileSynced;
    std::map<std::string, size_t> dirSynced;
    for (size_t i = 1; i <= crash; ++i) {
      const Change &c = m.changes[i - 1];
      if (c.kind == Change::FileSync) fileSynced[c.object] = i;
      if (c.kind == Change::DirSync) dirSynced[c.dir] = i;
    }
    std::vector<size_t> open;  // changes not durable
    for (size_t i = 1; i <= crash; ++i) {
      const Change &c = m.changes[i - 1];
      if (c.kind == Change::FileSync || c.kind == Change::DirSync) continue;
      durable[i] = c.kind == Change::Names ? dirSynced[c.dir] > i : fileSynced[c.object] > i;
      if (!durable[i]) open.push_back(i);
    }
    std::vector<size_t> prefixes{crash};
    for (size_t i : open) prefixes.push_back(i - 1);
    for (size_t prefix : prefixes) {
      std::vector<bool> kept(n + 1, false);
      for (size_t i = 1; i <= crash; ++i) kept[i] = i <= prefix || durable[i];
      // Renames and deletions past the prefix, one directory at a time.
      std::map<std::string, std::vector<size_t>> loose;
      for (size_t i : open)
        if (i > prefix && m.changes[i - 1].kind == Change::Names && m.changes[i - 1].reorderable)
          loose[m.changes[i - 1].dir].push_back(i);
      std::vector<std::vector<size_t>> subsets{{}};
      for (const auto &[dir, list] : loose) {
        size_t width = std::min<size_t>(list.size(), 5);
        for (size_t mask = 1; mask < (size_t(1) << width); ++mask) {
          std::vector<size_t> s;
          for (size_t k = 0; k < width; ++k)
            if (mask & (size_t(1) << k)) s.push_back(list[k]);
          subsets.push_back(s);
        }
      }
      for (const std::vector<size_t> &subset : subsets) {
        std::vector<bool> state = kept;
        for (size_t i : subset) state[i] = true;
        ++generated;
        m.Apply(state, crash, names, data, written);
        std::string key;
        for (const auto &[path, o] : names) key += path + '\0' + (o == kDirectory ? "<dir>" : data[o]) + '\0';
        if (seen.insert(std::hash<std::string>()(key)).second) {
          states.push_back(state);
          crashes.push_back(crash);
        }
      }
    }
  }
  ASSERT_GT(states.size(), 50u);
  // At most kMostStates of them, spread evenly over the run.
  size_t step = (states.size() + kMostStates - 1) / kMostStates;
  size_t checked = 0;
  for (size_t s = 0; s < states.size(); s += step) {
    SCOPED_TRACE("state " + std::to_string(s) + ", cut after change " + std::to_string(crashes[s]) + " of " +
                 std::to_string(n));
    m.Apply(states[s], crashes[s], names, data, written);
    Materialize(b, m, names, data, written);
    vt::SetEnv("VLM_GROUP_AREAS", groupAreas);
    vt::RunResult r = st::RunHere(b, args);
    vt::UnsetEnv("VLM_GROUP_AREAS");
    ASSERT_EQ(st::Diff(st::Files(b), once), "") << r.out;
    ++checked;
  }
  std::printf("%zu changes recorded, %zu crash states built, %zu distinct, %zu run and checked\n", n, generated,
              states.size(), checked);
}

INSTANTIATE_TEST_SUITE_P(Groups, PowerCut, ::testing::Values("1000", "1"));

}  // namespace
