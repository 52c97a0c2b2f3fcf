// Corpus runs: sources from manifests and folders, result keys, and the results store.
#pragma once

#include "qorl_multimodal/batch/cache_key.hpp"
#include "qorl_multimodal/batch/manifest.hpp"
#include "qorl_multimodal/batch/runner.hpp"
#include "qorl_multimodal/batch/store.hpp"
#include "qorl_multimodal/batch/usage.hpp"

namespace qorl_multimodal::batch {

using manifest::SourceEntry;
using manifest::ManifestReader;
using manifest::read_manifest;
using manifest::WalkFilter;
using manifest::FolderWalk;
using manifest::walk;
using cache_key::PROMPT_VERSION;
using cache_key::MediaDigest;
using cache_key::Request;
using cache_key::digest_bytes;
using cache_key::digest_file;
using cache_key::youtube_video;
using cache_key::compute_key;
using cache_key::compute_file_key;
using store::Store;
using store::StoreError;
using store::ClaimResult;
using store::Redo;
using store::Finish;
using store::Row;
using store::Totals;
using usage::Usage;
using usage::RunSummary;
using usage::format_summary;
using runner::SourceStream;
using runner::stream_of;
using runner::ResolvedSource;
using runner::Conversion;
using runner::ConvertFunction;
using runner::Result;
using runner::ResultCallback;
using runner::RunControl;
using runner::RunOptions;
using runner::run;

}  // namespace qorl_multimodal::batch
