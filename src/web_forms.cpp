#include "web_forms.hpp"

#include "digest.hpp"
#include "media_type.hpp"
#include "step_io.hpp"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <thread>

namespace vormesta {
namespace {

using namespace step;

// What was learnt of a file's bytes, kept in "<cache>.files" under its path, size and times.
struct Learnt {
    bool utf8 = false;
    bool starts_compressed = false;
    std::string digest; // empty where no one asked
};

std::string key_of(const WebInput& input) {
    return input.from + '\t' + std::to_string(input.facts.size) + '\t' +
           std::to_string(input.facts.modified) + '\t' + std::to_string(input.facts.changed);
}

// A line per file, ended by a NUL (a path may hold a line end): utf8 and starts-compressed (0 or
// 1), the digest, and last the key (a path may hold a tab), by tabs.
std::map<std::string, Learnt> read_learnt(const std::string& path) {
    std::map<std::string, Learnt> learnt;
    platform::InputFacts facts;
    std::string text;
    if (path.empty() || !platform::look_at_path(path, facts) || !read_whole(path, text))
        return learnt;
    for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
        end = std::min(text.find('\0', at), text.size());
        const std::string line = text.substr(at, end - at);
        const std::size_t tab = line.find('\t', 4);
        if (line.size() > 4 && line[1] == '\t' && line[3] == '\t' && tab != std::string::npos)
            learnt[line.substr(tab + 1)] = {line[0] == '1', line[2] == '1',
                                            line.substr(4, tab - 4)};
    }
    return learnt;
}

struct Work {
    const WebInput* input;
    MediaType type;
    Learnt learnt;
    bool known = false; // `learnt` holds all that is asked
    WebFacts* facts;
    std::vector<std::pair<std::string, std::string>> fresh; // forms made here: path, bytes
    std::vector<std::string> forms; // every form's file, kept whether sent or not
    bool failed = false;
    std::string message; // where the failure was not said already
};

bool wants_forms(const Work& work) {
    return work.input->ask.codings != 0 && !work.type.compressed;
}

std::string form_path(const std::string& cache, const std::string& digest, Coding coding) {
    return cache + ".forms/" + digest + "." + coding_name(coding);
}

// Reads what it must of one file and makes its forms: on a thread of its own.
void learn(const std::string& cache, Work& work) {
    const WebInput& input = *work.input;
    std::string bytes;
    auto read = [&]() {
        if (!bytes.empty() || input.facts.size == 0)
            return true;
        work.failed = !read_whole(input.from, bytes);
        if (!work.failed && bytes.size() != input.facts.size)
            work.failed = true, work.message = "changed while it was read";
        return !work.failed;
    };
    if (!work.known) {
        if (!read())
            return;
        work.learnt.utf8 = valid_utf8(bytes);
        work.learnt.starts_compressed = starts_compressed(bytes);
        if (input.ask.etag || input.ask.codings)
            work.learnt.digest = sha256_hex(bytes);
    }
    if (input.ask.etag)
        work.facts->etag = entity_tag(work.learnt.digest);
    if (!wants_forms(work) || work.learnt.starts_compressed)
        return;
    for (const Coding coding : codings) {
        if (!(input.ask.codings & (1u << static_cast<unsigned>(coding))))
            continue;
        const bool premade = !input.made.empty();
        WebForm form{coding,
                     premade ? input.made + "." + coding_name(coding)
                             : form_path(cache, work.learnt.digest, coding),
                     0,
                     {}};
        std::string made;
        platform::InputFacts kept;
        if (premade) {
            if (!read_whole(form.path, made))
                return void(work.failed = true);
            if (made.empty()) // not worth keeping, said the step that made it
                continue;
        } else if (platform::look_at_path(form.path, kept) && kept.is_regular) {
            if (!read_whole(form.path, made))
                return void(work.failed = true);
        } else if (!read()) {
            return;
        } else if (!compress(coding, bytes, made)) {
            work.failed = true;
            work.message = std::string("cannot be compressed with ") + coding_name(coding) +
                           " (out of memory)";
            return;
        } else {
            work.fresh.emplace_back(form.path, made);
        }
        form.size = made.size();
        form.etag = entity_tag(sha256_hex(made));
        if (!premade)
            work.forms.push_back(form.path);
        work.facts->forms.push_back(form);
    }
}

// Each work on the cores there are.
void learn_all(const std::string& cache, std::vector<Work*>& works) {
    std::atomic<std::size_t> next{0};
    auto worker = [&]() {
        for (std::size_t i; (i = next++) < works.size();)
            learn(cache, *works[i]);
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

// Writes the new forms and the learnt facts, and removes forms no file has any more.
bool keep(const std::string& cache, std::vector<Work>& works) {
    if (cache.empty())
        return true;
    const std::string folder = cache + ".forms";
    const bool fresh = std::any_of(works.begin(), works.end(),
                                   [](const Work& work) { return !work.fresh.empty(); });
    if (fresh && !platform::make_folders(folder))
        return fail(folder, std::string("cannot be made: ") + std::strerror(errno));
    std::string learnt;
    std::set<std::string> used;
    for (Work& work : works) {
        learnt += std::string(work.learnt.utf8 ? "1" : "0") + '\t' +
                  (work.learnt.starts_compressed ? "1" : "0") + '\t' + work.learnt.digest + '\t' +
                  key_of(*work.input) + '\0';
        for (const std::string& path : work.forms)
            used.insert(path.substr(folder.size() + 1));
        for (const auto& [path, bytes] : work.fresh)
            if (!write_text(path, bytes))
                return false;
    }
    std::vector<platform::FolderEntry> entries;
    if (platform::list_folder(folder, entries))
        for (const platform::FolderEntry& entry : entries)
            if (!used.count(entry.name))
                std::remove((folder + "/" + entry.name).c_str());
    return write_text(cache + ".files", learnt);
}

} // namespace

bool write_forms(const std::string& from, const std::string& relative, unsigned asked,
                 const std::string& made) {
    std::string bytes;
    if (!read_whole(from, bytes))
        return false;
    const bool worth = !bytes.empty() && !media_type_of(relative).compressed &&
                       !starts_compressed(bytes);
    for (const Coding coding : codings) {
        if (!(asked & (1u << static_cast<unsigned>(coding))))
            continue;
        std::string form;
        if (worth && !compress(coding, bytes, form))
            return fail(from, std::string("cannot be compressed with ") + coding_name(coding) +
                                  " (out of memory)");
        if (!write_text(made + "." + coding_name(coding), form.size() < bytes.size() ? form : ""))
            return false;
    }
    return true;
}

bool make_web_facts(const std::string& cache, const std::vector<WebInput>& inputs,
                    std::vector<WebFacts>& facts) {
    facts.assign(inputs.size(), {});
    const std::map<std::string, Learnt> learnt = read_learnt(cache.empty() ? "" : cache + ".files");
    std::vector<Work> works(inputs.size());
    std::vector<Work*> to_do;
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        Work& work = works[i];
        work.input = &inputs[i];
        work.facts = &facts[i];
        work.type = media_type_of(inputs[i].relative);
        const bool digest = inputs[i].ask.etag || inputs[i].ask.codings;
        const auto found = learnt.find(key_of(inputs[i]));
        if (found != learnt.end() && (!digest || !found->second.digest.empty())) {
            work.learnt = found->second;
            work.known = true;
        }
        // Only what is asked is read: the bytes of text (for its charset) or of a file whose
        // validator or forms are asked.
        if (!work.known && !digest && !work.type.text)
            work.known = true;
        if (!work.known || inputs[i].ask.etag || wants_forms(work))
            to_do.push_back(&work);
    }
    learn_all(cache, to_do);
    bool all = true;
    for (Work& work : works) {
        if (work.failed) {
            all = work.message.empty() ? false : fail(work.input->from, work.message);
            continue;
        }
        WebFacts& made = *work.facts;
        made.type = content_type(work.type, work.learnt.utf8);
        // A form larger than the bytes is never sent; the smallest goes first.
        std::vector<WebForm> smaller;
        for (const WebForm& form : made.forms)
            if (form.size < work.input->facts.size)
                smaller.push_back(form);
        std::sort(smaller.begin(), smaller.end(), [](const WebForm& a, const WebForm& b) {
            return a.size != b.size ? a.size < b.size : a.coding < b.coding;
        });
        made.forms.swap(smaller);
    }
    return all && keep(cache, works);
}

} // namespace vormesta
