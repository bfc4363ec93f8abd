#include "SavedList.h"

#define SI_NO_CONVERSION
#include <SimpleIni.h>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <unistd.h>

namespace tarnel {

namespace fs = std::filesystem;

namespace {

// One line per value: backslashes and line breaks are written as \\ and \n.
std::string Escape(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else
            out += c;
    }
    return out;
}

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        const char next = text[++i];
        out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return out;
}

class TWriter {
public:
    explicit TWriter(CSimpleIniA& ini)
        : ini_(ini) {}
    void Put(const std::string& section, const char* key, const std::string& value) {
        ini_.SetValue(section.c_str(), key, Escape(value).c_str());
    }
    void Put(const std::string& section, const char* key, int64_t value) {
        Put(section, key, std::to_string(value));
    }

private:
    CSimpleIniA& ini_;
};

class TReader {
public:
    explicit TReader(const CSimpleIniA& ini)
        : ini_(ini) {}
    // Throws std::runtime_error naming what is missing or wrong.
    std::string Text(const std::string& section, const char* key) const {
        const char* value = ini_.GetValue(section.c_str(), key, nullptr);
        if (!value)
            throw std::runtime_error("[" + section + "] has no " + key);
        return Unescape(value);
    }
    int64_t Number(const std::string& section, const char* key) const {
        const std::string text = Text(section, key);
        size_t used = 0;
        try {
            const long long value = std::stoll(text, &used);
            if (used == text.size())
                return value;
        } catch (const std::exception&) {
        }
        throw std::runtime_error("[" + section + "] " + key + " is not a number: " + text);
    }
    int32_t Int(const std::string& section, const char* key) const {
        return static_cast<int32_t>(Number(section, key));
    }

private:
    const CSimpleIniA& ini_;
};

std::string RowSection(size_t row) {
    return "row " + std::to_string(row);
}

std::string LayerSection(size_t row, size_t layer) {
    return RowSection(row) + " layer " + std::to_string(layer);
}

void WriteLayer(TWriter& out, const std::string& s, const TWmRec& layer) {
    out.Put(s, "Kind", layer.Kind);
    out.Put(s, "Text", layer.Text);
    out.Put(s, "FontName", layer.Font.Name);
    out.Put(s, "FontSize", layer.Font.Size);
    out.Put(s, "FontStyle",
            (layer.Font.Bold ? 1 : 0) | (layer.Font.Italic ? 2 : 0) | (layer.Font.Underline ? 4 : 0) |
                (layer.Font.StrikeOut ? 8 : 0));
    out.Put(s, "FontColor", layer.Font.Color);
    out.Put(s, "TextPlace",
            std::to_string(layer.TextLeft) + "," + std::to_string(layer.TextTop) + "," +
                std::to_string(layer.TextWidth) + "," + std::to_string(layer.TextHeight));
    out.Put(s, "TextAlpha", layer.TextAlpha);
    out.Put(s, "BackColor", layer.BackColor);
    out.Put(s, "BackOpaque", layer.BackOpaque ? 1 : 0);
    out.Put(s, "ImageFile", layer.ImageFile);
    out.Put(s, "ImagePlace",
            std::to_string(layer.ImageLeft) + "," + std::to_string(layer.ImageTop) + "," +
                std::to_string(layer.ImageWidth) + "," + std::to_string(layer.ImageHeight));
    out.Put(s, "ImageAlpha", layer.ImageAlpha);
    out.Put(s, "Seconds", std::to_string(layer.StartSecond) + "," + std::to_string(layer.EndSecond));
}

// "a,b,c,d" as four numbers.
std::vector<int32_t> Numbers(const TReader& in, const std::string& section, const char* key, size_t count) {
    const std::string text = in.Text(section, key);
    std::vector<int32_t> values;
    size_t start = 0;
    while (values.size() < count) {
        const size_t comma = text.find(',', start);
        const std::string part =
            text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        try {
            size_t used = 0;
            values.push_back(std::stoi(part, &used));
            if (used != part.size())
                throw std::invalid_argument(part);
        } catch (const std::exception&) {
            throw std::runtime_error("[" + section + "] " + key + " is not " + std::to_string(count) +
                                     " numbers");
        }
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (values.size() != count)
        throw std::runtime_error("[" + section + "] " + key + " is not " + std::to_string(count) +
                                 " numbers");
    return values;
}

std::unique_ptr<TWmRec> ReadLayer(const TReader& in, const std::string& s) {
    auto layer = std::make_unique<TWmRec>();
    layer->Kind = static_cast<uint32_t>(in.Number(s, "Kind"));
    layer->Text = in.Text(s, "Text");
    layer->Font.Name = in.Text(s, "FontName");
    layer->Font.Size = in.Int(s, "FontSize");
    const int64_t style = in.Number(s, "FontStyle");
    layer->Font.Bold = style & 1;
    layer->Font.Italic = style & 2;
    layer->Font.Underline = style & 4;
    layer->Font.StrikeOut = style & 8;
    layer->Font.Color = static_cast<TColor>(in.Number(s, "FontColor"));
    const std::vector<int32_t> text = Numbers(in, s, "TextPlace", 4);
    layer->TextLeft = text[0], layer->TextTop = text[1], layer->TextWidth = text[2],
    layer->TextHeight = text[3];
    layer->TextAlpha = static_cast<uint32_t>(in.Number(s, "TextAlpha"));
    layer->BackColor = static_cast<TColor>(in.Number(s, "BackColor"));
    layer->BackOpaque = in.Number(s, "BackOpaque") != 0;
    layer->ImageFile = in.Text(s, "ImageFile");
    const std::vector<int32_t> image = Numbers(in, s, "ImagePlace", 4);
    layer->ImageLeft = image[0], layer->ImageTop = image[1], layer->ImageWidth = image[2],
    layer->ImageHeight = image[3];
    layer->ImageAlpha = static_cast<uint32_t>(in.Number(s, "ImageAlpha"));
    const std::vector<int32_t> seconds = Numbers(in, s, "Seconds", 2);
    layer->StartSecond = seconds[0], layer->EndSecond = seconds[1];
    return layer;
}

void WriteRow(TWriter& out, size_t index, const TlvFilesRecord& r, bool checked) {
    const std::string s = RowSection(index);
    out.Put(s, "Source", r.SourceFile);
    out.Put(s, "Checked", checked ? 1 : 0);
    out.Put(s, "Length", r.LengthSeconds);
    out.Put(s, "TrimStart", r.TrimStart);
    out.Put(s, "TrimLength", r.TrimLength);
    out.Put(s, "Zoom", r.Zoom);
    out.Put(s, "Crop",
            std::to_string(r.CropTop) + "," + std::to_string(r.CropLeft) + "," +
                std::to_string(r.CropBottom) + "," + std::to_string(r.CropRight));
    out.Put(s, "CropEdit",
            std::to_string(r.CropEditTop) + "," + std::to_string(r.CropEditLeft) + "," +
                std::to_string(r.CropEditBottom) + "," + std::to_string(r.CropEditRight));
    out.Put(s, "Picture",
            std::to_string(r.Brightness) + "," + std::to_string(r.Contrast) + "," +
                std::to_string(r.Saturation) + "," + std::to_string(r.Exposure));
    out.Put(s, "Process", (r.ProcessText ? 1 : 0) | (r.ProcessImage ? 2 : 0));
    out.Put(s, "Layers", static_cast<int64_t>(r.WaterMarks.size()));
    for (size_t i = 0; i < r.WaterMarks.size(); ++i)
        WriteLayer(out, LayerSection(index, i), *r.WaterMarks[i]);
}

TSavedRow ReadRow(const TReader& in, size_t index) {
    const std::string s = RowSection(index);
    TSavedRow row;
    row.Record = std::make_unique<TlvFilesRecord>();
    TlvFilesRecord& r = *row.Record;
    r.SourceFile = in.Text(s, "Source");
    row.Checked = in.Number(s, "Checked") != 0;
    r.LengthSeconds = in.Int(s, "Length");
    r.TrimStart = in.Number(s, "TrimStart");
    r.TrimLength = in.Number(s, "TrimLength");
    r.Zoom = in.Text(s, "Zoom");
    const std::vector<int32_t> crop = Numbers(in, s, "Crop", 4);
    r.CropTop = crop[0], r.CropLeft = crop[1], r.CropBottom = crop[2], r.CropRight = crop[3];
    const std::vector<int32_t> edit = Numbers(in, s, "CropEdit", 4);
    r.CropEditTop = edit[0], r.CropEditLeft = edit[1], r.CropEditBottom = edit[2], r.CropEditRight = edit[3];
    const std::vector<int32_t> picture = Numbers(in, s, "Picture", 4);
    r.Brightness = picture[0], r.Contrast = picture[1], r.Saturation = picture[2], r.Exposure = picture[3];
    const int64_t process = in.Number(s, "Process");
    r.ProcessText = process & 1;
    r.ProcessImage = process & 2;
    const int64_t layers = in.Number(s, "Layers");
    if (layers < 0 || layers > 10000)
        throw std::runtime_error("[" + s + "] has " + std::to_string(layers) + " layers");
    for (int64_t i = 0; i < layers; ++i)
        r.WaterMarks.push_back(ReadLayer(in, LayerSection(index, static_cast<size_t>(i))));
    return row;
}

// Writes `text` to `path` and flushes it to the disk.
bool WriteDurably(const std::string& path, const std::string& text, std::string& error) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = "cannot write " + path;
        return false;
    }
    size_t written = 0;
    while (written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n <= 0)
            break;
        written += static_cast<size_t>(n);
    }
    const bool complete = written == text.size() && ::fsync(fd) == 0;
    ::close(fd);
    if (!complete)
        error = "cannot write " + path;
    return complete;
}

} // namespace

std::string ListText(const TListRows& rows) {
    CSimpleIniA ini{true /* UTF-8 */, false /* multi-key */, false /* multi-line */};
    TWriter out(ini);
    out.Put("list", "Version", kSavedListVersion);
    out.Put("list", "Rows", static_cast<int64_t>(rows.size()));
    for (size_t i = 0; i < rows.size(); ++i)
        WriteRow(out, i, *rows[i].first, rows[i].second);
    // The end marker is written last: a list cut short loses it and is known to be incomplete.
    out.Put("end", "Rows", static_cast<int64_t>(rows.size()));
    std::string text;
    ini.Save(text);
    return text;
}

bool WriteListFile(const std::string& path, const std::string& text, std::string& error) {
    std::error_code ec;
    fs::create_directories(fs::path(path).parent_path(), ec);
    // A name of this process's own: two instances saving at once each write a whole file, and
    // the last one put in place wins.
    const std::string fresh = path + ".new." + std::to_string(::getpid());
    if (!WriteDurably(fresh, text, error)) {
        fs::remove(fresh, ec);
        return false;
    }
    fs::rename(fresh, path, ec);
    if (ec) {
        error = "cannot replace " + path + ": " + ec.message();
        fs::remove(fresh, ec);
        return false;
    }
    return true;
}

bool SaveList(const std::string& path, const TListRows& rows, std::string& error) {
    return WriteListFile(path, ListText(rows), error);
}

TListSaver::TListSaver(std::string path, std::function<void(const std::string&)> failed)
    : path_(std::move(path))
    , failed_(std::move(failed))
    , thread_([this] { Run(); }) {}

TListSaver::~TListSaver() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void TListSaver::Save(const TListRows& rows) {
    std::string text = ListText(rows);
    {
        std::lock_guard lock(mutex_);
        waiting_ = std::move(text);
    }
    changed_.notify_all();
}

void TListSaver::Flush() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !waiting_ && !writing_; });
}

// Writes the newest list waiting until told to quit; what waits then is still written.
void TListSaver::Run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return waiting_ || quit_; });
        if (!waiting_)
            return;
        const std::string text = std::move(*waiting_);
        waiting_.reset();
        writing_ = true;
        lock.unlock();
        std::string error;
        if (!WriteListFile(path_, text, error) && failed_)
            failed_(error);
        lock.lock();
        writing_ = false;
        changed_.notify_all();
    }
}

TLoadedList LoadList(const std::string& path) {
    TLoadedList loaded;
    std::error_code ec;
    if (!fs::exists(path, ec))
        return loaded;
    CSimpleIniA ini{true /* UTF-8 */, false /* multi-key */, false /* multi-line */};
    try {
        if (ini.LoadFile(path.c_str()) < 0)
            throw std::runtime_error("it cannot be read");
        TReader in(ini);
        if (!ini.GetValue("list", "Version", nullptr))
            throw std::runtime_error("it is not a saved file list");
        const int64_t version = in.Number("list", "Version");
        if (version > kSavedListVersion)
            throw std::runtime_error("it was saved by a newer version of Tarnel");
        const int64_t rows = in.Number("list", "Rows");
        if (rows < 0 || !ini.GetValue("end", "Rows", nullptr) || in.Number("end", "Rows") != rows)
            throw std::runtime_error("it is incomplete");
        for (int64_t i = 0; i < rows; ++i)
            loaded.Rows.push_back(ReadRow(in, static_cast<size_t>(i)));
    } catch (const std::exception& e) {
        loaded.Rows.clear();
        loaded.Problem = e.what();
        loaded.KeptAs = path + ".bad";
        fs::rename(path, loaded.KeptAs, ec);
        if (ec)
            loaded.KeptAs.clear();
    }
    return loaded;
}

} // namespace tarnel
