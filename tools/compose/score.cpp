#include "score.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "common/read_text_file.h"
#include "dsp.h"
#include "synth.h"

namespace compose {

int Score::find_instrument(std::string_view name) const {
    for (size_t i = 0; i < instruments.size(); ++i)
        if (instruments[i].name == name) return int(i);
    return -1;
}

double Automation::value_at(double row) const {
    if (points.empty()) return 0.0;
    if (row <= points.front().first) return points.front().second;
    for (size_t i = 1; i < points.size(); ++i) {
        if (row < points[i].first) {
            const auto& [r0, v0] = points[i - 1];
            const auto& [r1, v1] = points[i];
            return v0 + (v1 - v0) * (row - r0) / (r1 - r0);
        }
    }
    return points.back().second;
}

bool parse_note_name(std::string_view text, double* midi) {
    static constexpr int kPitchClass[7] = {9, 11, 0, 2, 4, 5, 7};  // A B C D E F G
    if (text.size() < 2 || text[0] < 'A' || text[0] > 'G') return false;
    int pc = kPitchClass[text[0] - 'A'];
    size_t i = 1;
    if (text[i] == '#') { ++pc; ++i; }
    else if (text[i] == 'b') { --pc; ++i; }
    int octave = 0;
    const char* first = text.data() + i;
    const char* last = text.data() + text.size();
    auto [end, ec] = std::from_chars(first, last, octave);
    if (ec != std::errc() || end != last || first == last || octave < -1 || octave > 9) return false;
    *midi = double(12 * (octave + 1) + pc);
    return true;
}

namespace {

struct Parser {
    std::string_view source;
    Score score;
    std::string error;
    int line_no = 0;

    bool fail(const std::string& what) {
        error = std::string(source) + ":" + std::to_string(line_no) + ": " + what;
        return false;
    }

    static std::vector<std::string_view> split(std::string_view line) {
        std::vector<std::string_view> words;
        size_t i = 0;
        while (i < line.size()) {
            while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r')) ++i;
            const size_t start = i;
            while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
            if (i > start) words.push_back(line.substr(start, i - start));
        }
        return words;
    }

    static bool is_name(std::string_view s) {
        if (s.empty()) return false;
        return std::all_of(s.begin(), s.end(), [](char c) {
            return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        });
    }

    bool number(std::string_view text, std::string_view what, double* out) {
        double v = 0.0;
        const char* first = text.data();
        if (text.size() > 1 && text[0] == '+') ++first;  // "gain=+3" reads as a mix engineer writes it
        auto [end, ec] = std::from_chars(first, text.data() + text.size(), v);
        if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(v))
            return fail(std::string(what) + ": '" + std::string(text) + "' is not a number");
        *out = v;
        return true;
    }

    bool integer(std::string_view text, std::string_view what, int* out) {
        int v = 0;
        const char* first = text.data();
        if (!text.empty() && text[0] == '+') ++first;
        auto [end, ec] = std::from_chars(first, text.data() + text.size(), v);
        if (ec != std::errc() || end != text.data() + text.size() || first == end)
            return fail(std::string(what) + ": '" + std::string(text) + "' is not a whole number");
        *out = v;
        return true;
    }

    // key=value words into `out`; every key must be in `allowed`.
    bool key_values(const std::vector<std::string_view>& words, size_t first, std::string_view what,
                    bool (*allowed)(std::string_view), std::map<std::string, double>* out) {
        for (size_t i = first; i < words.size(); ++i) {
            const size_t eq = words[i].find('=');
            if (eq == std::string_view::npos || eq == 0)
                return fail(std::string(what) + ": expected key=value, got '" + std::string(words[i]) + "'");
            const std::string_view key = words[i].substr(0, eq);
            if (!allowed(key)) return fail(std::string(what) + ": unknown setting '" + std::string(key) + "'");
            double v = 0.0;
            if (!number(words[i].substr(eq + 1), std::string(what) + " " + std::string(key), &v)) return false;
            (*out)[std::string(key)] = v;
        }
        return true;
    }

    bool pattern_tokens(Pattern* p, const std::vector<std::string_view>& words) {
        for (std::string_view word : words) {
            if (word == "|") continue;  // bar line, only for the reader
            int repeat = 1;
            std::string_view body = word;
            if (const size_t star = word.find('*'); star != std::string_view::npos) {
                body = word.substr(0, star);
                if (!integer(word.substr(star + 1), "pattern '" + p->name + "' repeat", &repeat)) return false;
                if (repeat < 1 || repeat > 4096)
                    return fail("pattern '" + p->name + "': repeat count in '" + std::string(word) + "' must be 1 to 4096");
            }
            Step step;
            if (body == ".") {
                step.kind = Step::Rest;
            } else if (body == "-") {
                if (p->steps.empty()) return fail("pattern '" + p->name + "': hold '-' with no note before it");
                step.kind = Step::Hold;
            } else {
                step.kind = Step::Hit;
                step.velocity = 0.75;
                if (!body.empty() && body.back() == '^') { step.velocity = 1.0; body.remove_suffix(1); }
                else if (!body.empty() && body.back() == '_') { step.velocity = 0.4; body.remove_suffix(1); }
                double midi = 0.0;
                if (body == "x") {
                } else if (parse_note_name(body, &midi)) {
                    step.pitches.push_back(midi);
                } else if (auto c = score.chords.find(std::string(body)); c != score.chords.end()) {
                    step.pitches = c->second;
                } else {
                    return fail("pattern '" + p->name + "': '" + std::string(word) +
                                "' is neither '.', '-', 'x', a note name nor a chord");
                }
            }
            if (step.kind == Step::Hold && p->steps.back().kind == Step::Rest)
                return fail("pattern '" + p->name + "': hold '-' after a rest");
            for (int i = 0; i < repeat; ++i) p->steps.push_back(step);
        }
        return true;
    }

    static bool master_key(std::string_view k) {
        return k == "gain" || k == "threshold" || k == "ratio" || k == "attack" || k == "release" || k == "ceiling" ||
               k == "highpass";
    }
    static bool reverb_key(std::string_view k) { return k == "room" || k == "damp" || k == "predelay" || k == "gain"; }
    static bool delay_key(std::string_view k) { return k == "rows" || k == "feedback" || k == "tone" || k == "gain"; }
    static bool humanize_key(std::string_view k) { return k == "time" || k == "velocity"; }

    bool statement(const std::vector<std::string_view>& w) {
        const std::string_view cmd = w[0];
        auto need = [&](size_t n, const char* usage) {
            return w.size() >= n ? true : fail(std::string("'") + std::string(cmd) + "' needs " + usage);
        };
        if (cmd == "tempo" || cmd == "swing" || cmd == "length") {
            if (w.size() != 2) return fail("'" + std::string(cmd) + "' takes one number");
            double v = 0.0;
            if (!number(w[1], cmd, &v)) return false;
            if (cmd == "tempo") {
                if (v < 20.0 || v > 400.0) return fail("tempo must be 20 to 400 beats per minute");
                score.tempo = v;
            } else if (cmd == "swing") {
                if (v < 0.0 || v >= 0.5) return fail("swing must be at least 0 and below 0.5 of a row");
                score.swing = v;
            } else {
                if (v <= 0.0 || v > 600.0) return fail("length must be above 0 and at most 600 seconds");
                score.length_s = v;
            }
            return true;
        }
        if (cmd == "seed") {
            if (w.size() != 2) return fail("'seed' takes one whole number");
            uint64_t v = 0;
            auto [end, ec] = std::from_chars(w[1].data(), w[1].data() + w[1].size(), v);
            if (ec != std::errc() || end != w[1].data() + w[1].size()) return fail("seed: '" + std::string(w[1]) + "' is not a whole number");
            score.seed = v;
            return true;
        }
        if (cmd == "master") return key_values(w, 1, "master", master_key, &score.master);
        if (cmd == "reverb") return key_values(w, 1, "reverb", reverb_key, &score.reverb);
        if (cmd == "delay") return key_values(w, 1, "delay", delay_key, &score.delay);
        if (cmd == "humanize") {
            std::map<std::string, double> kv;
            if (!key_values(w, 1, "humanize", humanize_key, &kv)) return false;
            if (kv.count("time")) score.humanize_time_s = kv["time"];
            if (kv.count("velocity")) score.humanize_velocity = kv["velocity"];
            return true;
        }
        if (cmd == "instrument") {
            if (!need(3, "a name and a kind")) return false;
            if (!is_name(w[1])) return fail("instrument name '" + std::string(w[1]) + "' may use only letters, digits and '_'");
            if (score.find_instrument(w[1]) >= 0) return fail("instrument '" + std::string(w[1]) + "' is defined twice");
            if (!voice_kind_known(w[2])) return fail("instrument '" + std::string(w[1]) + "': unknown kind '" + std::string(w[2]) + "'");
            Instrument inst;
            inst.name = std::string(w[1]);
            inst.kind = std::string(w[2]);
            inst.line = line_no;
            if (!key_values(w, 3, "instrument '" + inst.name + "'", voice_param_known, &inst.params)) return false;
            score.instruments.push_back(std::move(inst));
            return true;
        }
        if (cmd == "chord") {
            if (!need(3, "a name and at least one note")) return false;
            double dummy = 0.0;
            if (!is_name(w[1]) || w[1] == "x" || parse_note_name(w[1], &dummy))
                return fail("chord name '" + std::string(w[1]) + "' must be a name that is not 'x' or a note name");
            if (score.chords.count(std::string(w[1]))) return fail("chord '" + std::string(w[1]) + "' is defined twice");
            std::vector<double> notes;
            for (size_t i = 2; i < w.size(); ++i) {
                double m = 0.0;
                if (!parse_note_name(w[i], &m)) return fail("chord '" + std::string(w[1]) + "': '" + std::string(w[i]) + "' is not a note name");
                notes.push_back(m);
            }
            score.chords[std::string(w[1])] = notes;
            return true;
        }
        if (cmd == "pattern") {
            if (w.size() != 3) return fail("'pattern' takes a name and an instrument; its rows follow on indented lines");
            if (!is_name(w[1])) return fail("pattern name '" + std::string(w[1]) + "' may use only letters, digits and '_'");
            for (const Pattern& p : score.patterns)
                if (p.name == w[1]) return fail("pattern '" + std::string(w[1]) + "' is defined twice");
            Pattern p;
            p.name = std::string(w[1]);
            p.instrument = score.find_instrument(w[2]);
            p.line = line_no;
            if (p.instrument < 0) return fail("pattern '" + p.name + "': no instrument '" + std::string(w[2]) + "'");
            score.patterns.push_back(std::move(p));
            return true;
        }
        if (cmd == "play") {
            if (!need(4, "a first row, an end row and at least one pattern")) return false;
            Play base;
            base.line = line_no;
            if (!integer(w[1], "play first row", &base.from) || !integer(w[2], "play end row", &base.to)) return false;
            if (base.from < 0 || base.to <= base.from)
                return fail("play rows " + std::to_string(base.from) + " to " + std::to_string(base.to) + " are empty or negative");
            for (size_t i = 3; i < w.size(); ++i) {
                Play p = base;
                std::string_view name = w[i];
                if (const size_t at = name.find('@'); at != std::string_view::npos) {
                    if (!integer(name.substr(at + 1), "play offset", &p.offset)) return false;
                    if (p.offset < 0) return fail("play offset must not be negative ('" + std::string(w[i]) + "')");
                    name = name.substr(0, at);
                }
                if (const size_t colon = name.find(':'); colon != std::string_view::npos) {
                    if (!integer(name.substr(colon + 1), "play transpose", &p.transpose)) return false;
                    name = name.substr(0, colon);
                }
                for (size_t k = 0; k < score.patterns.size(); ++k)
                    if (score.patterns[k].name == name) p.pattern = int(k);
                if (p.pattern < 0) return fail("play: no pattern '" + std::string(name) + "'");
                score.plays.push_back(p);
            }
            return true;
        }
        if (cmd == "automate") {
            if (!need(4, "a target, a setting and at least one row:value point")) return false;
            Automation a;
            if (w[1] != "master") {
                a.instrument = score.find_instrument(w[1]);
                if (a.instrument < 0) return fail("automate: no instrument '" + std::string(w[1]) + "'");
            }
            a.param = std::string(w[2]);
            if (a.param != "gain" && !(a.instrument < 0 && a.param == "cutoff"))
                return fail("automate: '" + a.param + "' cannot be automated on " + std::string(w[1]));
            for (size_t i = 3; i < w.size(); ++i) {
                const size_t colon = w[i].find(':');
                if (colon == std::string_view::npos) return fail("automate: expected row:value, got '" + std::string(w[i]) + "'");
                double row = 0.0, v = 0.0;
                if (!number(w[i].substr(0, colon), "automate row", &row) || !number(w[i].substr(colon + 1), "automate value", &v)) return false;
                if (!a.points.empty() && row <= a.points.back().first)
                    return fail("automate: rows must increase ('" + std::string(w[i]) + "')");
                a.points.emplace_back(row, v);
            }
            score.automations.push_back(std::move(a));
            return true;
        }
        if (cmd == "section" || cmd == "moment") {
            if (!need(3, "a row and a name")) return false;
            Mark m;
            m.line = line_no;
            if (!integer(w[1], std::string(cmd) + " row", &m.row)) return false;
            std::vector<Mark>& marks = cmd == "section" ? score.sections : score.moments;
            if (m.row < 0) return fail(std::string(cmd) + " row " + std::to_string(m.row) + " is negative");
            if (!marks.empty() && m.row <= marks.back().row)
                return fail(std::string(cmd) + " row " + std::to_string(m.row) + " must come after row " + std::to_string(marks.back().row));
            for (size_t i = 2; i < w.size(); ++i) m.name += (i > 2 ? " " : "") + std::string(w[i]);
            marks.push_back(std::move(m));
            return true;
        }
        return fail("unknown statement '" + std::string(cmd) + "'");
    }

    bool run(std::string_view text) {
        Pattern* open = nullptr;  // the pattern whose rows may follow
        size_t pos = 0;
        while (pos <= text.size()) {
            size_t end = text.find('\n', pos);
            if (end == std::string_view::npos) end = text.size();
            std::string_view line = text.substr(pos, end - pos);
            pos = end + 1;
            ++line_no;
            // A comment starts at a '#' that begins a word, so sharps (F#2) stay notes.
            for (size_t i = 0; i < line.size(); ++i) {
                if (line[i] == '#' && (i == 0 || line[i - 1] == ' ' || line[i - 1] == '\t')) {
                    line = line.substr(0, i);
                    break;
                }
            }
            const std::vector<std::string_view> words = split(line);
            if (words.empty()) continue;
            const bool indented = line[0] == ' ' || line[0] == '\t';
            if (indented) {
                if (!open) return fail("indented line outside a pattern");
                if (!pattern_tokens(open, words)) return false;
                continue;
            }
            if (open && open->steps.empty()) {
                line_no = open->line;
                return fail("pattern '" + open->name + "' has no rows");
            }
            open = nullptr;
            if (!statement(words)) return false;
            if (words[0] == "pattern") open = &score.patterns.back();
        }
        if (open && open->steps.empty()) {
            line_no = open->line;
            return fail("pattern '" + open->name + "' has no rows");
        }
        return true;
    }
};

}  // namespace

ParseResult parse_score(std::string_view text, std::string_view source_name) {
    Parser p;
    p.source = source_name;
    ParseResult r;
    r.ok = p.run(text);
    r.error = p.error;
    if (r.ok) r.score = std::move(p.score);
    return r;
}

ParseResult load_score(const char* path) {
    std::string text;
    ParseResult r;
    if (!read_text_file(path, &text, &r.error)) return r;
    return parse_score(text, path);
}

std::vector<Note> schedule(const Score& score) {
    const double rs = score.row_seconds();
    auto row_time = [&](int row) { return (double(row) + ((row & 1) ? score.swing : 0.0)) * rs; };
    std::vector<Note> notes;
    for (size_t pi = 0; pi < score.plays.size(); ++pi) {
        const Play& play = score.plays[pi];
        const Pattern& pat = score.patterns[size_t(play.pattern)];
        const int len = int(pat.steps.size());
        for (int row = play.from; row < play.to; ++row) {
            const int idx = (row - play.from + play.offset) % len;
            const Step& step = pat.steps[size_t(idx)];
            if (step.kind != Step::Hit) continue;
            int rows = 1;
            while (idx + rows < len && row + rows < play.to && pat.steps[size_t(idx + rows)].kind == Step::Hold) ++rows;
            Note n;
            n.instrument = pat.instrument;
            n.start_s = row_time(row);
            n.length_s = row_time(row + rows) - n.start_s;
            n.velocity = step.velocity;
            if (score.humanize_time_s > 0.0 || score.humanize_velocity > 0.0) {
                // Seeded by instrument and row, not by the play's place in the score, so
                // adding or moving one play leaves every other note's jitter as it was.
                Noise rng(score.seed ^ (uint64_t(pat.instrument) << 32) ^ uint64_t(row));
                n.start_s = std::max(0.0, n.start_s + score.humanize_time_s * rng.next());
                n.velocity = std::clamp(n.velocity * (1.0 + score.humanize_velocity * rng.next()), 0.0, 1.0);
            }
            const Instrument& inst = score.instruments[size_t(pat.instrument)];
            if (step.pitches.empty()) {
                n.pitches.push_back(voice_base_note(inst) + play.transpose);
            } else {
                for (double m : step.pitches) n.pitches.push_back(m + play.transpose);
            }
            notes.push_back(std::move(n));
        }
    }
    std::stable_sort(notes.begin(), notes.end(), [](const Note& a, const Note& b) {
        return a.instrument != b.instrument ? a.instrument < b.instrument : a.start_s < b.start_s;
    });
    return notes;
}

}  // namespace compose
