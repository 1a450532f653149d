#pragma once
#include "platform/Memory.h"
#include "platform/UIThread.h"
#include <QCoreApplication>
#include <benchmark/benchmark.h>

// Benchmarks run with a Qt application on the main thread, as the program does.
#define PELVOX_BENCH_MAIN()                                                  \
    int main(int argc, char** argv)                                          \
    {                                                                        \
        pelvox::TuneAllocatorForLargePackets(); /* as the program does */    \
        QCoreApplication app(argc, argv);                                    \
        ::benchmark::Initialize(&argc, argv);                                \
        if (::benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;  \
        ::benchmark::RunSpecifiedBenchmarks();                               \
        ::benchmark::Shutdown();                                             \
        pelvox::UIThread::Shutdown();                                        \
        return 0;                                                            \
    }
