// The compile driver.
#include "tools/common/compile.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <random>
#include <thread>

#include "dictionary/dic_format.h"
#include "dictionary/vocab_compiler.h"
#include "platform/exceptions.h"
#include "platform/file.h"
#include "tools/common/encode_ahead.h"

namespace vandrel::tools {

std::ptrdiff_t DescriptionRoom(WideView name, WideView short_name) {
  return ParamsDescriptionRoom(dic::kCompilerPageSize, name, short_name);
}

void CheckOutputIsNotSource(const std::vector<std::string>& sources, const std::string& output) {
  for (const std::string& source : sources) {
    std::error_code ec;
    // Only an existing output can be a source; equivalent() follows links.
    if (std::filesystem::equivalent(source, output, ec) && !ec) {
      throw Exception(output + " is the source " + source +
                      ": compiling would replace it; write the dictionary elsewhere");
    }
  }
}

namespace {

// Chunks of bodies encoded ahead at most (some MB).
constexpr std::size_t kEncodeAheadChunks = 32;

// A temporary name beside path that nothing holds yet: path.tmp, or
// path.NNNNNNNN.tmp when a stale or concurrent one is in the way.
std::string OpenNewTemporary(TVocabCompiler& compiler, const std::string& path) {
  std::random_device random;
  for (int attempt = 0;; ++attempt) {
    std::string tmp = path + ".tmp";
    if (attempt > 0) {
      char suffix[16];
      std::snprintf(suffix, sizeof suffix, ".%08x", static_cast<unsigned>(random()));
      tmp = path + suffix + ".tmp";
    }
    try {
      compiler.BeginCompile(tmp, TVocabCompiler::Creation::kNew);
      return tmp;
    } catch (const EOSError& e) {
      // The system's text says what failed, not on which file.
      if (e.ErrorCode() != win::ERROR_FILE_EXISTS || attempt >= 16)
        throw EOSError(e.ErrorCode(), tmp + ": " + e.what());
    }
  }
}

// Every step-th entry, so that about kTrainingBytes of translations are
// taken (a character encodes to about a byte; a definition not converted
// yet counts by its bytes).
template <typename Entry>
std::vector<WideString> SpreadSample(const std::vector<Entry>& entries, std::size_t chars) {
  const std::size_t step = std::max<std::size_t>(1, chars / TVocabCompiler::kTrainingBytes);
  std::vector<WideString> sample;
  WideString buffer;
  for (std::size_t i = 0; i < entries.size(); i += step)
    sample.emplace_back(TranslationOf(entries[i], buffer));
  return sample;
}

}  // namespace

std::future<std::string> StartTraining(const std::vector<SourceEntry>& entries,
                                       const CompileSettings& settings) {
  std::size_t chars = 0;
  for (const SourceEntry& e : entries)
    chars += e.definition.empty() ? e.trans.size() : e.definition.size();
  return std::async(std::launch::async, [sample = SpreadSample(entries, chars), settings]() {
    return TVocabCompiler::TrainOn(sample, settings.language, settings.trans_language,
                                   settings.dictionary_capacity);
  });
}

TCompileReport CompileEntries(std::vector<PreparedEntry> entries, const CompileSettings& settings,
                              const std::string& path, const ProgressFn& progress) {
  std::ptrdiff_t room = DescriptionRoom(settings.name, settings.short_name);
  if (room < 0) throw Exception("name and short name are too long for the parameters page");
  if (static_cast<std::ptrdiff_t>(settings.description.size()) > room) {
    throw Exception("description of " + std::to_string(settings.description.size()) +
                    " characters is too long: the parameters page holds " + std::to_string(room));
  }
  TVocabCompiler compiler;
  compiler.SetLanguage(settings.language);
  compiler.SetTransLanguage(settings.trans_language);
  compiler.SetScrambled(settings.scrambled);
  compiler.SetCompressed(settings.compressed);
  compiler.SetDictionaryCapacity(settings.dictionary_capacity);
  if (settings.compressed && settings.body_dictionary) {
    compiler.SetBodyDictionary(*settings.body_dictionary);
  } else if (settings.compressed && settings.dictionary_capacity > 0) {
    // Spread over the whole dictionary.
    std::size_t chars = 0;
    for (const PreparedEntry& e : entries) {
      chars += e.definition.empty() ? e.trans.size() : e.definition.size();
      for (std::string_view d : e.joined) chars += d.size();
    }
    compiler.SetTrainingSample(SpreadSample(entries, chars));
  }
  const std::string tmp = OpenNewTemporary(compiler, path);
  // Translations are converted, encoded and (once the body dictionary is
  // settled) compressed on all cores, from now on. This thread takes them
  // in order and builds the pages.
  std::optional<TVocabCompiler::BodyFinisher> finisher = compiler.Finisher();
  const bool finished = finisher.has_value();
  std::unique_ptr<EncodeAhead> encoded;
  try {
    encoded = std::make_unique<EncodeAhead>(
        entries, settings.language, settings.trans_language,
        std::max(1u, std::min(4u, std::thread::hardware_concurrency())), kEncodeAheadChunks,
        std::move(finisher));
    {
      WideString buffer;
      std::string body;
      std::size_t escapes = 0;
      for (std::size_t i = 0; i < entries.size(); ++i) {
        if (progress && i % 4096 == 0) progress(i, entries.size());
        PreparedEntry& e = entries[i];
        bool compressed = false;
        if (encoded->Take(i, body, escapes, &compressed)) {
          if (finished) {
            compiler.AddFinishedWord(std::move(e.bytes), std::move(e.word), std::move(body),
                                     escapes, compressed);
          } else {
            compiler.AddEncodedWord(std::move(e.bytes), std::move(e.word), std::move(body),
                                    escapes);
          }
        } else {
          compiler.AddStoredWord(std::move(e.bytes), std::move(e.word), TranslationOf(e, buffer));
        }
        e = PreparedEntry();
      }
      encoded.reset();
    }
    compiler.EndCompile();
    // Taken after the last bodies were compressed and committed.
    const TCompileReport report = compiler.Report();
    WriteBaseParams(tmp, settings.name, settings.short_name, settings.description);
    if (!win::MoveFileExA(tmp.c_str(), path.c_str(), win::MOVEFILE_REPLACE_EXISTING)) {
      RaiseLastOSError();
    }
    if (progress) progress(entries.size(), entries.size());
    return report;
  } catch (...) {
    win::DeleteFileA(tmp.c_str());
    throw;
  }
}

}  // namespace vandrel::tools
