// The line formats a run's blocks are written in.
#pragma once

enum class TOutputFormat { Csv, Jsonl, Influx };
