// The checks behind the fuzz targets, kept apart from libFuzzer so that the
// test suite can replay the seed corpus and every input that once failed
// through exactly the same code.
//
// Each check takes arbitrary bytes as the content of a data file, runs the
// program's own code on it and compares what it sees with what the data file
// grammar demands. The result is empty when everything held, otherwise a
// description of the first fault. Crashes and sanitizer findings end the
// process as usual.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kelvorin::fuzzing {

// The data file reader: the lines as ScanNumberLine scans them and the blocks
// as ReadTableData puts them into the entry grid and the proportions grid,
// both against an independent reading of the same bytes, and the first three
// tables read (of 1 to 50 rows, in the pass that reads every block as a
// table) written back by WriteTableData and read again.
std::string CheckDataFileReader(const std::uint8_t* data, std::size_t size);

// Inputs longer than this are passed over by CheckBatchRun.
inline constexpr std::size_t kMaxBatchInput = 4096;
// Most sample points that the tables of one input may have together; an
// input above it is passed over, so that no input enumerates for long.
inline constexpr double kMaxBatchSamplePoints = 20000.0;

// The batch command line with every option on (the detail level taken from
// the input's size) on the bytes as its data file, with a details file, and
// a result file for an input of odd size (standard output otherwise): it
// must end with status 0 or 1, and neither the reports nor the trace may
// print an infinity or a NaN. Returns "" without running anything when the
// input is longer than kMaxBatchInput or its tables have too many sample
// points.
std::string CheckBatchRun(const std::uint8_t* data, std::size_t size);

// True when CheckBatchRun would run the input.
bool BatchInputIsSmallEnough(const std::uint8_t* data, std::size_t size);

}  // namespace kelvorin::fuzzing
