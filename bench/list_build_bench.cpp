// Parsing and partitioning generated lists; the line scanner against sscanf on the same text.
#include <sys/resource.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include <benchmark/benchmark.h>

#include "prefix/list_text.h"
#include "prefix/prefix_list.h"

namespace {

// count ascending prefixes, every other /24 from 1.0.0.0 up, so each listed block has a gap
// after it; every eighth line is a /22 that swallows what follows it.
std::string generated_list(int64_t count)
{
	std::string text;
	text.reserve(static_cast<size_t>(count) * 16);
	uint32_t base = 0x01000000;
	char line[32];
	for (int64_t i = 0; i < count; i++) {
		int length = i % 8 == 0 ? 22 : 24;
		if (length == 22)
			base = (base + 0x3ff) & ~0x3ffu;
		int n = std::snprintf(line, sizeof line, "%u.%u.%u.%u/%d\n", base >> 24, (base >> 16) & 255,
				      (base >> 8) & 255, base & 255, length);
		text.append(line, static_cast<size_t>(n));
		base += length == 22 ? 0x400 : 0x200;
	}
	return text;
}

int64_t node_count()
{
	int64_t n = 0;
	for (PrefixNode* p = next_node(&prefix_list); p != &prefix_list; p = next_node(p))
		n++;
	return n;
}

double peak_rss_mib()
{
	rusage usage{};
	getrusage(RUSAGE_SELF, &usage);
	return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

void BM_ParseAndPartition(benchmark::State& state)
{
	std::string text = generated_list(state.range(0));
	for (auto _ : state) {
		reset_prefix_list();
		append_node(0, 0, 0);
		bool ok = parse_list_text(text.c_str(), "the list", false) && add_prefix(0xFFFFFFFFu, 32);
		if (!ok)
			state.SkipWithError("out of memory");
	}
	state.counters["nodes"] = static_cast<double>(node_count());
	state.counters["peak_rss_MiB"] = peak_rss_mib();
	state.SetItemsProcessed(state.iterations() * state.range(0));
	state.SetComplexityN(state.range(0));
	reset_prefix_list();
}
// The fitted complexity and its RMS tell whether the build stays linear in the line count.
BENCHMARK(BM_ParseAndPartition)
	->RangeMultiplier(4)
	->Range(1 << 14, 1 << 20)
	->Unit(benchmark::kMillisecond)
	->Complexity(benchmark::oN);

// The whole public list as CIDRs, when the cycle benchmark has fetched it: nearly contiguous,
// so most lines fuse into the block before them.
void BM_ParseRealList(benchmark::State& state)
{
	std::FILE* file = std::fopen(LANX_BENCH_DATA "/real.txt", "rb");
	if (file == nullptr) {
		state.SkipWithError("no " LANX_BENCH_DATA "/real.txt: run compare.sh once");
		return;
	}
	std::string text;
	char piece[65536];
	for (size_t n; (n = std::fread(piece, 1, sizeof piece, file)) > 0;)
		text.append(piece, n);
	std::fclose(file);
	int64_t lines = 0;
	for (char c : text)
		lines += c == '\n';
	for (auto _ : state) {
		reset_prefix_list();
		append_node(0, 0, 0);
		if (!parse_list_text(text.c_str(), "the list", false) || !add_prefix(0xFFFFFFFFu, 32))
			state.SkipWithError("out of memory");
	}
	state.counters["lines"] = static_cast<double>(lines);
	state.counters["nodes"] = static_cast<double>(node_count());
	state.SetItemsProcessed(state.iterations() * lines);
	reset_prefix_list();
}
BENCHMARK(BM_ParseRealList)->Unit(benchmark::kMillisecond);

template <bool with_sscanf>
void BM_ScanLines(benchmark::State& state)
{
	std::string text = generated_list(state.range(0));
	int64_t lines = 0;
	for (auto _ : state) {
		int32_t v[5] = {0, 0, 0, 0, 24};
		uint32_t base = 0;
		const char* p = text.c_str();
		while (*p != '\0') {
			if constexpr (with_sscanf)
				std::sscanf(p, "%d.%d.%d.%d/%d", &v[0], &v[1], &v[2], &v[3], &v[4]);
			else
				scan_line(p, &base, &v[4]);
			benchmark::DoNotOptimize(v);
			benchmark::DoNotOptimize(base);
			while (*p != '\0' && *p++ != '\n') {
			}
			lines++;
		}
	}
	state.SetItemsProcessed(lines);
}
// glibc's sscanf measures the whole rest of the string on every call, so its cost per line
// grows with the text: the sizes stay small enough for it to finish.
BENCHMARK_TEMPLATE(BM_ScanLines, false)->Name("BM_ScanLines/hand_written")->RangeMultiplier(4)->Range(1 << 10, 1 << 14);
BENCHMARK_TEMPLATE(BM_ScanLines, true)->Name("BM_ScanLines/sscanf")->RangeMultiplier(4)->Range(1 << 10, 1 << 14);

} // namespace
