/* What a folder walk takes: the names it leaves out, and the paths a pattern picks. The library
   step walks by it, and so does a live library in the program, so both see one folder alike.
   C that C++ compiles too; it needs <string.h>. */
static int vormesta_ends_with(const char* name, size_t size, const char* end) {
    size_t length = strlen(end);
    return size > length && strcmp(name + size - length, end) == 0;
}

static int vormesta_same_in_any_case(const char* name, const char* other) {
    for (; *name && *other; ++name, ++other) {
        int a = *name, b = *other;
        a += a >= 'A' && a <= 'Z' ? 'a' - 'A' : 0;
        b += b >= 'A' && b <= 'Z' ? 'a' - 'A' : 0;
        if (a != b)
            return 0;
    }
    return *name == *other;
}

/* An editor's or the system's litter: lock, autosave, backup and swap files (Emacs `.#x`, `#x#`,
   `x~`; Vim `.x.swp` to `.x.swa` and `4913`; JetBrains `x___jb_tmp___` and `x___jb_old___`;
   Kate `x.kate-swp`; LibreOffice `.~lock.x#`), `.DS_Store`, `Thumbs.db` and `desktop.ini`. */
static int vormesta_is_litter(const char* name) {
    size_t size = strlen(name);
    char last = size > 0 ? name[size - 1] : '\0';
    int emacs = (size > 2 && strncmp(name, ".#", 2) == 0) ||
                (size > 2 && name[0] == '#' && last == '#') || last == '~';
    /* Vim's swap files (.name.swp, then .swo down to .swa) and the file it tries a folder with. */
    int vim = (name[0] == '.' && size > 5 && strncmp(name + size - 4, ".sw", 3) == 0 &&
               last >= 'a' && last <= 'p') ||
              strcmp(name, "4913") == 0;
    int others = vormesta_ends_with(name, size, "___jb_tmp___") ||
                 vormesta_ends_with(name, size, "___jb_old___") ||
                 vormesta_ends_with(name, size, ".kate-swp") ||
                 (strncmp(name, ".~lock.", 7) == 0 && last == '#');
    int system = strcmp(name, ".DS_Store") == 0 || vormesta_same_in_any_case(name, "Thumbs.db") ||
                 vormesta_same_in_any_case(name, "desktop.ini");
    return emacs || vim || others || system;
}

/* Whether a walk leaves the file or folder `name` out: litter always, hidden names (a leading
   '.') unless `hidden` is asked. */
static int vormesta_left_out(const char* name, int hidden) {
    return name[0] == '\0' || vormesta_is_litter(name) || (name[0] == '.' && !hidden);
}

/* One name against one part of a pattern, neither holding '/': [pattern, pattern_end) against
   [name, name_end). */
static int vormesta_part_matches(const char* pattern, const char* pattern_end, const char* name,
                                 const char* name_end) {
    for (;; ++pattern, ++name) {
        if (pattern == pattern_end)
            return name == name_end;
        if (*pattern == '*') {
            const char* rest = name;
            while (pattern + 1 < pattern_end && pattern[1] == '*')
                ++pattern;
            for (;; ++rest) {
                if (vormesta_part_matches(pattern + 1, pattern_end, rest, name_end))
                    return 1;
                if (rest == name_end)
                    return 0;
            }
        } else if (*pattern == '?') {
            if (name == name_end)
                return 0;
        } else if (*pattern == '[') {
            const char* end = pattern + 1;
            const char* c;
            int negated = pattern[1] == '!' || pattern[1] == '^', found = 0;
            while (end < pattern_end && *end != ']')
                ++end;
            if (name == name_end)
                return 0;
            if (end == pattern_end) { /* no set: a '[' as it is */
                if (*name != '[')
                    return 0;
                continue;
            }
            for (c = pattern + 1 + negated; c < end; ++c) {
                if (c + 2 < end && c[1] == '-') {
                    found |= *name >= c[0] && *name <= c[2];
                    c += 2;
                } else {
                    found |= *name == *c;
                }
            }
            if (found == negated)
                return 0;
            pattern = end;
        } else {
            if (*pattern == '\\' && pattern + 1 < pattern_end)
                ++pattern;
            if (name == name_end || *pattern != *name)
                return 0;
        }
    }
}

/* The `index`th part of `path` between '/'s: where it begins, and its end in *end; null past the
   last. */
static const char* vormesta_path_part(const char* path, size_t index, const char** end) {
    for (; index > 0 && path; --index) {
        path = strchr(path, '/');
        if (path)
            ++path;
    }
    *end = path ? strchr(path, '/') : path;
    if (path && !*end)
        *end = path + strlen(path);
    return path;
}

static size_t vormesta_path_parts(const char* path) {
    size_t parts = 1;
    for (; *path; ++path)
        parts += *path == '/';
    return parts;
}

/* Whether `relative` is picked by `pattern`: a pattern without '/' matches the file's name in any
   folder; one with '/' matches a leading folder part and then the name, at any depth below it.
   '*' and '?' do not cross '/'; "[abc]" is a set; a '\' takes the next character as it is. */
static int vormesta_pattern_matches(const char* pattern, const char* relative) {
    size_t want = vormesta_path_parts(pattern), have = vormesta_path_parts(relative), i;
    const char *part, *part_end, *name, *name_end;
    part = vormesta_path_part(pattern, want - 1, &part_end);
    name = vormesta_path_part(relative, have - 1, &name_end);
    if (!vormesta_part_matches(part, part_end, name, name_end))
        return 0;
    if (want == 1)
        return 1;
    /* The leading folders of the pattern, from the top; any depth below them. */
    if (have < want)
        return 0;
    for (i = 0; i + 1 < want; ++i) {
        part = vormesta_path_part(pattern, i, &part_end);
        name = vormesta_path_part(relative, i, &name_end);
        if (!vormesta_part_matches(part, part_end, name, name_end))
            return 0;
    }
    return 1;
}

/* Whether `pattern` names one file exactly, with no wildcard: that takes back a file the walk
   would leave out. */
static int vormesta_plain_pattern(const char* pattern) {
    return !strpbrk(pattern, "*?[\\");
}

/* A folder's walk settings. Each list ends with a null; `patterns` holding none but it takes
   every file. */
struct vormesta_walk_rules {
    const char* const* patterns;
    const char* const* excludes;
    const char* const* skipped; /* folders below the top left out (the build's own), by path */
    int hidden;                 /* hidden names taken */
};

static int vormesta_any_matches(const char* const* patterns, const char* relative, int plain) {
    for (; *patterns; ++patterns)
        if ((!plain || vormesta_plain_pattern(*patterns)) &&
            vormesta_pattern_matches(*patterns, relative))
            return 1;
    return 0;
}

/* What a walk does with one entry of a folder. */
#define VORMESTA_WALK_PASS 0  /* leaves it out */
#define VORMESTA_WALK_ENTER 1 /* goes down into it */
#define VORMESTA_WALK_TAKE 2  /* takes it, once the walker finds it a file or a link to one */

/* The entry `name`, at `relative` below the top; `folder` where it is a folder itself, not a link
   to one. Litter and (unless asked) hidden names are left out, but a file a plain pattern names;
   the build's folders are skipped; a file must be picked by the patterns and by no exclude. */
static int vormesta_walk_entry(const struct vormesta_walk_rules* rules, const char* name,
                               const char* relative, int folder) {
    int left_out = vormesta_left_out(name, rules->hidden);
    if (folder) {
        const char* const* skipped = rules->skipped;
        while (*skipped && strcmp(*skipped, relative) != 0)
            ++skipped;
        return left_out || *skipped ? VORMESTA_WALK_PASS : VORMESTA_WALK_ENTER;
    }
    if (left_out && !vormesta_any_matches(rules->patterns, relative, 1))
        return VORMESTA_WALK_PASS;
    return (!rules->patterns[0] || vormesta_any_matches(rules->patterns, relative, 0)) &&
                   !vormesta_any_matches(rules->excludes, relative, 0)
               ? VORMESTA_WALK_TAKE
               : VORMESTA_WALK_PASS;
}

static int vormesta_is_separator(char c) {
#ifdef _WIN32
    return c == '/' || c == '\\';
#else
    return c == '/'; /* a backslash is part of a name here */
#endif
}

/* Whether `path` lies below the folder `root`, both resolved: a link is followed only there. */
static int vormesta_inside(const char* path, const char* root) {
    size_t length = strlen(root);
    return length > 0 && strncmp(path, root, length) == 0 && path[length] != '\0' &&
           (vormesta_is_separator(path[length]) || vormesta_is_separator(root[length - 1]));
}
