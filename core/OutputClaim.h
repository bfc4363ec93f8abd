// An output name claimed for one conversion. The output is written under a partial name in the same
// folder (".partial-" + its name, so the extension still tells its format) and renamed to its name
// only when complete: a name never holds an incomplete file, whatever happens to the process.
//
// The partial file is the claim: it is created exclusively and locked for as long as the claim is
// held, so several processes writing into one folder (over a shared file system too) never pick the
// same name. A partial file whose lock is free was left by a process that died; the next claim of
// that name removes it.
#pragma once

#include <string>

namespace tarnel {

enum class TClaimResult {
    Claimed,
    Exists, // a complete file has the name
    Taken,  // another living conversion writes it
    Failed, // the folder refuses the partial file (the error says why)
};

class TOutputClaim {
public:
    TOutputClaim() = default;
    ~TOutputClaim(); // an output still unfinished is removed
    TOutputClaim(const TOutputClaim&) = delete;
    TOutputClaim& operator=(const TOutputClaim&) = delete;

    // ".partial-<name>" beside `output`.
    static std::string PartialName(const std::string& output);
    // True when a living conversion holds `output`'s partial file.
    static bool InUse(const std::string& output);

    // Claims `output` unless a file or a living claim has it; `error` says why a claim failed.
    TClaimResult Claim(const std::string& output, std::string& error);
    bool Held() const { return fd_ >= 0; }
    const std::string& Output() const { return output_; }
    const std::string& Partial() const { return partial_; }

    // The complete output takes its name (never replacing a file that appeared meanwhile); the
    // claim ends. False with `error` when the name could not be given.
    bool Commit(std::string& error);
    // Removes the partial file; the claim ends.
    void Abandon();

private:
    void Release();

    int fd_ = -1;
    std::string output_;
    std::string partial_;
};

} // namespace tarnel
