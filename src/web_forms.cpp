#include "web_forms.hpp"

#include "output.hpp"
#include "step_io.hpp"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string_view>
#include <thread>
#include <unordered_map>

namespace vormesta {

void ByteWatch::add(std::string_view bytes) {
    if (start_.size() < 16)
        start_.append(bytes.substr(0, 16 - start_.size()));
    if (utf8_asked_)
        utf8_.add(bytes);
    if (digest_)
        sha_.add(bytes);
}

ByteFacts ByteWatch::finish() {
    return {utf8_asked_ && utf8_.valid(), starts_compressed(start_),
            digest_ ? sha_.finish_hex() : ""};
}

bool bytes_as_learnt(const std::string& from, const WebFacts& facts, const ByteFacts& seen) {
    const ByteFacts& learnt = facts.bytes;
    const bool same = (learnt.digest.empty() || seen.digest == learnt.digest) &&
                      (!facts.check_utf8 || seen.utf8 == learnt.utf8) &&
                      (!facts.check_start || seen.starts_compressed == learnt.starts_compressed);
    return same || step::fail(from, "changed while it was read");
}

namespace {

using namespace step;

// What was learnt of a form: kept (smaller than the bytes), with its size and digest, or not.
struct LearntForm {
    Coding coding = Coding::gzip;
    bool kept = false;
    std::uint64_t size = 0;
    std::string digest;
};

// What was learnt of a file's bytes, kept in "<cache>.files" under its path and version.
struct Learnt {
    ByteFacts bytes;
    std::vector<LearntForm> forms;
};

constexpr char learnt_heading[] = "vormesta-learnt 2";

// The version of the file a fact was learnt of: its size, times and identity, then its path.
std::string key_of(const WebInput& input) {
    std::string key;
    key.reserve(6 * 21 + input.from.size());
    return append_version(key, input.facts, '\t').append(input.from);
}

std::string forms_field(const std::vector<LearntForm>& forms) {
    std::string field;
    for (const LearntForm& form : forms)
        field += (field.empty() ? "" : ",") + std::string(coding_name(form.coding)) + ':' +
                 (form.kept ? std::to_string(form.size) + ':' + form.digest : "-");
    return field;
}

bool parse_forms(const std::string& field, std::vector<LearntForm>& forms) {
    if (field.empty())
        return true;
    for (const std::string& item : split(field, ',')) {
        const std::vector<std::string> parts = split(item, ':');
        LearntForm form;
        if (!coding_named(parts[0], form.coding))
            return false;
        if (parts.size() == 2 && parts[1] == "-") {
            forms.push_back(form);
            continue;
        }
        if (parts.size() != 3 || parts[1].empty() || parts[1].size() > 19 ||
            parts[1].find_first_not_of("0123456789") != std::string::npos || !is_digest(parts[2]))
            return false;
        form.kept = true;
        form.size = std::stoull(parts[1]);
        form.digest = parts[2];
        forms.push_back(form);
    }
    return true;
}

// The text before the next `separator` of `text`, taken off it; false where there is none.
bool take_field(std::string_view& text, char separator, std::string_view& field) {
    const std::size_t end = text.find(separator);
    if (end == std::string_view::npos)
        return false;
    field = text.substr(0, end);
    text.remove_prefix(end + 1);
    return true;
}

// One line of the learnt file cut into its four fields and its key (the version's six numbers,
// then the path); false where it has too few tabs for that.
bool cut_learnt_line(std::string_view line, std::string_view (&fields)[4], std::string_view& key) {
    for (std::string_view& field : fields)
        if (!take_field(line, '\t', field))
            return false;
    key = line;
    return std::count(key.begin(), key.end(), '\t') >= 6;
}

// The path a key names: what follows the version's six numbers.
std::string_view path_in_key(std::string_view key) {
    std::string_view number;
    for (int i = 0; i < 6; ++i)
        take_field(key, '\t', number);
    return key;
}

// A line per file, ended by a NUL (a path may hold a line end): utf8 and starts-compressed (0 or
// 1), the digest, the forms, and last the key (six numbers, then the path, which may hold a tab),
// by tabs. A file that does not parse whole is taken for nothing: a digest is a path in the
// cache, and must be one. Read in place: at 100,000 files, a string per field costs more than
// the rest of a one-file edit.
std::unordered_map<std::string, Learnt> read_learnt(const std::string& path) {
    platform::InputFacts facts;
    std::string text;
    if (path.empty() || !platform::facts_of_path(path, facts) || !read_whole(path, text))
        return {};
    std::string_view rest = text, line;
    if (!take_field(rest, '\0', line) || line != learnt_heading)
        return {};
    std::unordered_map<std::string, Learnt> learnt;
    while (!rest.empty()) {
        std::string_view fields[4], key;
        if (!take_field(rest, '\0', line) || !cut_learnt_line(line, fields, key))
            return {};
        Learnt file;
        const bool flags =
            (fields[0] == "0" || fields[0] == "1") && (fields[1] == "0" || fields[1] == "1");
        file.bytes = {fields[0] == "1", fields[1] == "1", std::string(fields[2])};
        if (!flags || (!fields[2].empty() && !is_digest(file.bytes.digest)) ||
            !parse_forms(std::string(fields[3]), file.forms) ||
            (!file.forms.empty() && fields[2].empty()))
            return {};
        learnt.insert_or_assign(std::string(key), std::move(file));
    }
    return learnt;
}

// What the cache held when the run began: the forms learnt, by the digest of the bytes they came
// from, and the names in its folder of forms (a form learnt but not there is made again).
struct Kept {
    std::map<std::string, const std::vector<LearntForm>*> by_digest;
    std::set<std::string> names;
};

struct Work {
    const WebInput* input = nullptr;
    WebFacts* facts = nullptr;
    MediaType type;
    Learnt learnt;
    bool known = false; // `learnt` holds the bytes' facts, as a claim to be checked when used
    const Kept* kept = nullptr;
    bool failed = false;
};

bool wants_forms(const Work& work) {
    return work.input->ask.codings != 0 && !work.type.compressed;
}

bool asks(const WebAsk& ask, Coding coding) {
    return (ask.codings & (1u << static_cast<unsigned>(coding))) != 0;
}

std::string form_path(const std::string& cache, const std::string& digest, Coding coding) {
    return cache + ".forms/" + digest + "." + coding_name(coding);
}

// A form on its way to its file: made by its compressor, counted and hashed as it is written.
struct Making {
    Coding coding;
    std::string path;
    std::unique_ptr<Compressor> compressor;
    Output out;
    std::string pending; // made, not written yet
    Sha256 sha;
    std::uint64_t size = 0;
};

bool write_pending(Making& form, bool all) {
    if (!all && form.pending.size() < (1u << 20))
        return true;
    form.sha.add(form.pending);
    form.size += form.pending.size();
    const bool written = put(form.out.file(), form.pending, form.path);
    form.pending.clear();
    return written;
}

// What every read of this run has read so far, for the progress it reports.
std::atomic<std::uint64_t> bytes_read{0};

// Reads `from` once, to its end: its bytes go past `watch` and into each of `forms`. The file
// must be the version the walk saw, `walked`, and stay so while it is read.
bool read_once(const std::string& from, const platform::InputFacts& walked, ByteWatch& watch,
               std::vector<std::unique_ptr<Making>>& forms) {
    Input input;
    if (!open_input(from, input))
        return false;
    if (!same_version(input.facts, walked))
        return fail(from, "changed while it was read");
    std::vector<char> block(
        static_cast<std::size_t>(std::min<std::uint64_t>(walked.size + 1, 1u << 18)));
    std::uint64_t read = 0;
    for (;;) {
        const std::size_t got = std::fread(block.data(), 1, block.size(), input.file.get());
        read += got;
        bytes_read += got;
        if (read > walked.size)
            return fail(from, "changed while it was read");
        const std::string_view bytes(block.data(), got);
        const bool last = got < block.size();
        watch.add(bytes);
        for (const auto& form : forms) {
            if (!form->compressor->add(bytes, last, form->pending))
                return fail(from, std::string("cannot be compressed with ") +
                                      coding_name(form->coding) + " (out of memory)");
            if (!write_pending(*form, false))
                return false;
        }
        if (last)
            break;
    }
    if (std::ferror(input.file.get()))
        return fail(from, "could not be read");
    return (read == walked.size &&
            platform::input_unchanged(input.file.get(), input.facts, read)) ||
           fail(from, "changed while it was read");
}

// The memory the compressors of every thread may hold at once: a file whose forms need more than
// is left waits, and one that needs more than all of it waits to be alone.
class Budget {
  public:
    explicit Budget(std::uint64_t whole) : whole_(whole), left_(whole) {}
    std::uint64_t take(std::uint64_t wanted) {
        wanted = std::min(wanted, whole_);
        std::unique_lock<std::mutex> lock(mutex_);
        freed_.wait(lock, [&] { return left_ >= wanted; });
        left_ -= wanted;
        return wanted;
    }
    void give(std::uint64_t taken) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            left_ += taken;
        }
        freed_.notify_all();
    }

  private:
    std::uint64_t whole_;
    std::uint64_t left_;
    std::mutex mutex_;
    std::condition_variable freed_;
};

// What the step may hold in compressors, whatever the files and the cores.
constexpr std::uint64_t compressing_memory = 48u << 20;

class Taken {
  public:
    explicit Taken(std::uint64_t wanted) : taken_(budget().take(wanted)) {}
    ~Taken() { budget().give(taken_); }
    Taken(const Taken&) = delete;
    Taken& operator=(const Taken&) = delete;

  private:
    static Budget& budget() {
        static Budget whole(compressing_memory);
        return whole;
    }
    std::uint64_t taken_;
};

// Compresses the file at `from`, the version `walked` whose bytes hashed to `digest`, in each of
// `codings`, the form at `path_of(coding)` after `lead`: the forms come from the bytes of the
// read that hashes them again. A form not smaller than the bytes is not kept (nor written).
bool compress_file(const std::string& from, const platform::InputFacts& walked,
                   const std::string& digest, const std::vector<Coding>& codings,
                   const std::function<std::string(Coding)>& path_of, const std::string& lead,
                   std::vector<LearntForm>& learnt_forms) {
    std::uint64_t memory = 0;
    for (const Coding coding : codings)
        memory += compressor_memory(coding, walked.size);
    const Taken taken(memory);
    std::vector<std::unique_ptr<Making>> forms;
    for (const Coding coding : codings) {
        auto form = std::make_unique<Making>();
        form->coding = coding;
        form->path = path_of(coding);
        form->compressor = start_compressing(coding, walked.size);
        if (!form->compressor)
            return fail(from, std::string("cannot be compressed with ") + coding_name(coding) +
                                  " (out of memory)");
        if (form->out.open(form->path.c_str(), platform::FileId{}) != Output::Opened::ok)
            return fail_because(form->path, "cannot be written");
        if (!put(form->out.file(), lead, form->path))
            return false;
        forms.push_back(std::move(form));
    }
    ByteWatch watch(true, false);
    if (!read_once(from, walked, watch, forms))
        return false;
    if (watch.finish().digest != digest)
        return fail(from, "changed while it was read");
    for (const auto& form : forms) {
        if (!write_pending(*form, true))
            return false;
        LearntForm learnt{form->coding, form->size < walked.size, form->size,
                          form->sha.finish_hex()};
        if (learnt.kept && !form->out.commit())
            return fail_because(form->path, "could not be written");
        learnt_forms.push_back(learnt);
    }
    return true;
}

// The forms of a file whose bytes are known: learnt of them before (under this version, or under
// their digest: a copy, a touched file) or made now.
bool find_forms(const std::string& cache, Work& work) {
    const WebInput& input = *work.input;
    std::vector<LearntForm> forms;
    std::vector<Coding> missing;
    for (const Coding coding : codings) {
        if (!asks(input.ask, coding))
            continue;
        const std::string name = work.learnt.bytes.digest + "." + coding_name(coding);
        auto learnt = [&](const std::vector<LearntForm>* from) -> const LearntForm* {
            if (!from)
                return nullptr;
            const auto found = std::find_if(from->begin(), from->end(), [&](const LearntForm& f) {
                return f.coding == coding && (!f.kept || work.kept->names.count(name));
            });
            return found == from->end() ? nullptr : &*found;
        };
        const auto& by_digest = work.kept->by_digest;
        const auto same_bytes = by_digest.find(work.learnt.bytes.digest);
        const LearntForm* had = learnt(&work.learnt.forms);
        had = had ? had : learnt(same_bytes == by_digest.end() ? nullptr : same_bytes->second);
        if (had)
            forms.push_back(*had);
        else
            missing.push_back(coding);
    }
    // A read for each: one compressor's memory at a time.
    const std::string& digest = work.learnt.bytes.digest;
    work.facts->made_faster = !missing.empty() && compressed_faster(input.facts.size);
    for (const Coding coding : missing)
        if (!compress_file(
                input.from, input.facts, digest, {coding},
                [&](Coding each) { return form_path(cache, digest, each); }, "", forms))
            return false;
    std::sort(forms.begin(), forms.end(),
              [](const LearntForm& a, const LearntForm& b) { return a.coding < b.coding; });
    work.learnt.forms = forms;
    return true;
}

// What a form made beforehand begins with: the digest of the bytes it came from, and a line end.
constexpr std::uint64_t lead_size = 64 + 1;

// The forms a step per file made beforehand (`write_forms`): each must say it came from these
// bytes; its own digest is taken as it is read.
bool take_premade_forms(Work& work) {
    const WebInput& input = *work.input;
    for (const Coding coding : codings) {
        if (!asks(input.ask, coding))
            continue;
        WebForm form{coding, input.premade + "." + coding_name(coding), lead_size, 0, {}, {}};
        Input made_form;
        std::string lead(lead_size, '\0');
        if (!open_input(form.path, made_form))
            return false;
        if (made_form.facts.size < lead_size ||
            std::fread(&lead[0], 1, lead.size(), made_form.file.get()) != lead.size() ||
            lead != work.learnt.bytes.digest + '\n')
            return fail(form.path, "was not made from the bytes of " + input.from);
        Sha256 sha;
        std::vector<char> block(1u << 16);
        std::size_t got;
        while ((got = std::fread(block.data(), 1, block.size(), made_form.file.get())) > 0) {
            sha.add({block.data(), got});
            form.size += got;
        }
        if (std::ferror(made_form.file.get()) || form.size != made_form.facts.size - lead_size)
            return fail(form.path, "could not be read");
        if (form.size == 0) // not worth keeping, said the step that made it
            continue;
        form.digest = sha.finish_hex();
        form.etag = entity_tag(form.digest);
        work.facts->forms.push_back(form);
    }
    return true;
}

// Reads what it must of one file and makes its forms: on a thread of its own.
void learn(const std::string& cache, Work& work) {
    const WebInput& input = *work.input;
    if (!work.known) {
        ByteWatch watch(input.ask.etag || input.ask.codings, work.type.text);
        std::vector<std::unique_ptr<Making>> none;
        if (!read_once(input.from, input.facts, watch, none))
            return void(work.failed = true);
        work.learnt = {watch.finish(), {}};
    }
    const bool forms =
        wants_forms(work) && !work.learnt.bytes.starts_compressed && input.facts.size > 0;
    if (!forms || !input.premade.empty())
        work.learnt.forms.clear();
    if (forms)
        work.failed = !(input.premade.empty() ? find_forms(cache, work) : take_premade_forms(work));
}

// Says every few seconds, while files are read and compressed, how far it is: a build that
// compresses a large asset is not silent for minutes.
class Progress {
  public:
    Progress(const std::string& label, std::size_t files) : label_(label), files_(files) {
        if (!label_.empty())
            thread_ = std::thread([this] { tell(); });
    }
    ~Progress() {
        if (!thread_.joinable())
            return;
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            over_ = true;
        }
        wake_.notify_all();
        thread_.join();
    }
    Progress(const Progress&) = delete;
    Progress& operator=(const Progress&) = delete;
    void done() { ++files_done_; }

  private:
    void tell() {
        const std::uint64_t start = bytes_read;
        std::unique_lock<std::mutex> lock(mutex_);
        while (!wake_.wait_for(lock, std::chrono::seconds(5), [this] { return over_; }))
            if (!print_out(label_ + ": " + std::to_string(files_done_) + " of " +
                           std::to_string(files_) + " files done, " +
                           std::to_string((bytes_read - start) >> 20) +
                           " MiB read and compressed so far\n"))
                return;
    }

    std::string label_;
    std::size_t files_;
    std::atomic<std::size_t> files_done_{0};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool over_ = false;
    std::thread thread_;
};

// Each work on the cores there are.
void learn_all(const std::string& cache, std::vector<Work*>& works, const std::string& label) {
    Progress progress(label, works.size());
    std::atomic<std::size_t> next{0};
    auto worker = [&]() {
        for (std::size_t i; (i = next++) < works.size();) {
            learn(cache, *works[i]);
            progress.done();
        }
    };
    const std::size_t count =
        std::min<std::size_t>(std::max(1u, std::thread::hardware_concurrency()), works.size());
    std::vector<std::thread> threads;
    for (std::size_t i = 1; i < count; ++i)
        threads.emplace_back(worker);
    worker();
    for (std::thread& thread : threads)
        thread.join();
}

// Writes what was learnt of the files that were read without fault, and removes from the cache
// every form no file has any more (and what a killed step left there).
bool keep(const std::string& cache, const Kept& kept, const std::vector<Work>& works) {
    const std::string folder = cache + ".forms";
    std::string learnt = std::string(learnt_heading) + '\0';
    std::set<std::string> used;
    for (const Work& work : works) {
        if (work.failed) // learnt again next time
            continue;
        const ByteFacts& bytes = work.learnt.bytes;
        learnt.append(bytes.utf8 ? "1\t" : "0\t")
            .append(bytes.starts_compressed ? "1\t" : "0\t")
            .append(bytes.digest)
            .append(1, '\t')
            .append(forms_field(work.learnt.forms))
            .append(1, '\t')
            .append(key_of(*work.input))
            .append(1, '\0');
        for (const LearntForm& form : work.learnt.forms)
            if (form.kept)
                used.insert(bytes.digest + "." + coding_name(form.coding));
    }
    for (const std::string& name : kept.names)
        if (!used.count(name))
            platform::remove_path(folder + "/" + name);
    return write_text(cache + ".files", learnt);
}

} // namespace

void forget_learnt(const std::string& cache, const std::string& from, const std::string& digest) {
    if (cache.empty())
        return;
    std::string kept = std::string(learnt_heading) + '\0';
    std::string text;
    platform::InputFacts facts;
    if (!platform::facts_of_path(cache + ".files", facts) || !read_whole(cache + ".files", text))
        return;
    std::string_view rest = text, line;
    while (take_field(rest, '\0', line)) {
        std::string_view fields[4], key;
        if (cut_learnt_line(line, fields, key) && fields[2] != digest && path_in_key(key) != from)
            kept.append(line).push_back('\0');
    }
    write_text(cache + ".files", kept);
}

bool write_forms(const std::string& from, const std::string& relative, unsigned asked,
                 const std::string& premade) {
    platform::InputFacts walked;
    if (!platform::facts_of_path(from, walked))
        return fail_because(from, "cannot be looked at");
    ByteWatch watch(true, false);
    std::vector<std::unique_ptr<Making>> none;
    if (!read_once(from, walked, watch, none))
        return false;
    const ByteFacts bytes = watch.finish();
    const std::string lead = bytes.digest + '\n';
    const bool worth =
        walked.size > 0 && !media_type_of(relative).compressed && !bytes.starts_compressed;
    std::vector<Coding> wanted;
    for (const Coding coding : codings)
        if (asks({asked, false}, coding))
            wanted.push_back(coding);
    std::vector<LearntForm> forms;
    auto path_of = [&](Coding coding) { return premade + "." + coding_name(coding); };
    if (worth && !compress_file(from, walked, bytes.digest, wanted, path_of, lead, forms))
        return false;
    // A form not worth keeping is the lead alone.
    for (const Coding coding : wanted) {
        const bool kept = std::any_of(forms.begin(), forms.end(), [&](const LearntForm& form) {
            return form.coding == coding && form.kept;
        });
        if (!kept && !write_text(path_of(coding), lead))
            return false;
    }
    return true;
}

bool make_web_facts(const std::string& cache, const std::vector<WebInput>& inputs,
                    std::vector<WebFacts>& facts, const std::string& label) {
    facts.assign(inputs.size(), {});
    const std::unordered_map<std::string, Learnt> learnt =
        read_learnt(cache.empty() ? "" : cache + ".files");
    Kept kept;
    for (const auto& [key, file] : learnt)
        if (!file.forms.empty())
            kept.by_digest[file.bytes.digest] = &file.forms;
    std::vector<platform::FolderEntry> entries;
    if (!cache.empty() && platform::list_folder(cache + ".forms", entries))
        for (platform::FolderEntry& entry : entries)
            kept.names.insert(std::move(entry.name));
    std::vector<Work> works(inputs.size());
    std::vector<Work*> to_do;
    bool forms = false;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        Work& work = works[i];
        work.input = &inputs[i];
        work.facts = &facts[i];
        work.type = media_type_of(inputs[i].relative);
        const bool digest = inputs[i].ask.etag || inputs[i].ask.codings;
        const auto found = learnt.find(key_of(inputs[i]));
        work.kept = &kept;
        if (found != learnt.end() && (!digest || !found->second.bytes.digest.empty())) {
            work.learnt = found->second;
            work.known = true;
        }
        // Only what is asked is read: the bytes of text (for its charset) or of a file whose
        // validator or forms are asked.
        if (!work.known && !digest && !work.type.text)
            work.known = true;
        forms = forms || (wants_forms(work) && inputs[i].premade.empty());
        if (!work.known || wants_forms(work))
            to_do.push_back(&work);
    }
    if (forms && !cache.empty() && !platform::make_folders(cache + ".forms"))
        return fail_because(cache + ".forms", "cannot be made");
    learn_all(cache, to_do, label);
    bool all = true;
    for (Work& work : works) {
        if (work.failed) {
            all = false;
            continue;
        }
        WebFacts& file_facts = *work.facts;
        file_facts.type = content_type(work.type, work.learnt.bytes.utf8);
        file_facts.bytes = work.learnt.bytes;
        file_facts.check_utf8 = work.type.text;
        file_facts.check_start = wants_forms(work);
        if (work.input->ask.etag)
            file_facts.etag = entity_tag(work.learnt.bytes.digest);
        for (const LearntForm& form : work.learnt.forms)
            if (form.kept)
                file_facts.forms.push_back({form.coding,
                                            form_path(cache, work.learnt.bytes.digest, form.coding),
                                            0, form.size, form.digest, entity_tag(form.digest)});
        // A form larger than the bytes is never sent; the smallest goes first.
        std::sort(file_facts.forms.begin(), file_facts.forms.end(),
                  [](const WebForm& a, const WebForm& b) {
                      return a.size != b.size ? a.size < b.size : a.coding < b.coding;
                  });
    }
    return (cache.empty() || keep(cache, kept, works)) && all;
}

} // namespace vormesta
