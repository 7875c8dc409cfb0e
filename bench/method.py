"""The report's fixed text: how each figure is measured and how to read it."""

HEAD = """# Benchmarks

The program's conversion against libjpeg-turbo's own limit and the tools people would use \
instead, measured side by side in one run. Written by `scripts/bench` from hyperfine's and Google \
Benchmark's results; run it again rather than editing this file.

## Machine

- CPU: {cpu}, {cores} cores online; memory {memory:.1f} GiB
- System: {system}, Linux {kernel}
- First touch of a fresh 4 KiB page (the kernel's page fault): {touch:.1f} µs, so {per_mib:.1f} \
ms per MiB a conversion writes into fresh memory
- Run: {date}, {minutes:.1f} minutes of measuring; the load average was {load[0]:.2f} (1 minute) \
as it began, and the machine's other processes kept {others:.2f} of its cores busy on average \
meanwhile (`/proc/stat`, less what the benchmark took)
- Packages:
{packages}
## Targets

All measured by `scripts/bench`, which writes this file. Time targets are judged per scale on the \
geometric mean of the median-time ratios over the photos of 1 MP and more (the worst photo beside \
it); the test images under 1 MP convert in about a millisecond and are shown apart.

"""

FINDINGS = """## Findings

- The program's decode and encode take what the reference's take (phase table), its full-size \
copies are the reference's bytes, and it causes at most {faults:.4f}× the reference's page faults \
on the photos of 1 MP and more ({most}). Its extra work is the header read behind "Output Size" \
(microseconds) and, at odd half and quarter sizes, the copy of each row out of the decoder's \
rounded-up row.
- A first touch of a fresh page costs {touch:.1f} µs here (well under one on a bare machine); \
converting into memory touched before saves the reference up to {saved} of its time on a photo. \
The program and the reference must touch the input, the decoded image, the encoder's coefficient \
buffer ({coef} MiB for {big} at full scale) and the output once each. djpeg|cjpeg streams rows \
through a pipe between two processes, one on each core, and never holds the image (it peaks at \
{stream} MiB for both); vipsthumbnail streams too, on both cores. That, not the codec work, is \
where they gain.
- Optimized Huffman tables make the copies {saved_full} (full) to {saved_quarter} (quarter) \
smaller than standard ones, on the photos of 1 MP and more. At full scale the reference's encode \
takes {t[0]}× as long with them in fresh memory and {t[1]}× in warm memory, the whole conversion \
{t[2]}× and {t[3]}× (quarter scale: {t[4]}×, {t[5]}×, {t[6]}×, {t[7]}×).
- A second "Output Quality" opening for {big} at full scale waits {again} ms after a first of \
{first} ms in fresh memory, {fresh}× the standard-table encode of the same pixels, warm; after a \
first opening in warm memory ({first_warm} ms) it waits {again_warm} ms, {warm}×.
- Under 1 MP a conversion takes about a millisecond, less than starting a process; there the \
program's fixed costs show (its page blocks mapped and unmapped per photo, "other" below).

## Time relative to the reference

![Median time relative to the reference, geometric mean over the photos of at least 1 MP, by \
scale]({chart})

"""

MEASURED = """## What is measured

Every photo is converted at full, half and quarter scale to a quality-90 JPEG by each of these:

- **program**: its own path, `ProcessFile` with the dialogs answering as a user would: the file \
read into a page block, the header read (`ReadImageSize`), the scaled decode (`ConfirmSize`), the \
encode (`EncodeForDialog`), the file written. Baseline 4:2:2.
- **reference**: the limit, a minimal libjpeg-turbo loop: the file read into memory, \
`scale_denom` 1/2/4 decode to BGR in one buffer with APP1 and APP2 saved, 4:2:2 quality-90 encode \
with `optimize_coding` into one preallocated buffer, the file written. It carries what the program \
carries: an Exif orientation of 2 to 8 and an RGB ICC profile. Its scaled sizes are libjpeg's, \
rounded up; the program's are rounded down.
- **reference, standard tables**: the same with libjpeg's standard Huffman tables.
- **..., warm memory**: the same, converting into memory its process touched before (glibc's \
heap, nothing returned to the kernel): the work without first touches of fresh pages.
- **djpeg|cjpeg**: `sh -c 'djpeg -scale 1/N photo | cjpeg -quality 90 -sample 2x1 > out'`.
- **convert**: ImageMagick `convert photo -resize WxH! -quality 90 -sampling-factor 2x1 out` (no \
`-resize` at full scale); it keeps all of the photo's metadata.
- **vipsthumbnail**: `vipsthumbnail photo -s WxH! -o out[Q=90,subsample-mode=on]` (4:2:0, the \
nearest to 4:2:2 it has); it keeps the metadata and turns the pixels by the Exif orientation.

hyperfine times the program, the references in fresh memory and the peers from the start of their \
process to its end (`-N`, one warm-up run, then {runs} runs per photo and scale, {small_runs} \
under 1 MP). The program and the references run as `tbm_convert`, a static executable making one \
conversion with every buffer of 128 KiB or more fresh from the kernel, as the program's page \
blocks are; it logs its phase times, page faults and peak memory (`getrusage`). A peer's peak \
memory is `ru_maxrss` of one more run, summed over a pipe; it includes the {spawner} MiB of the \
script that started it. Google Benchmark times the warm references and the second opening in one \
process ({repetitions} repetitions), so their peak memory is not their own ("-"). Times are ms; \
"× ref" is a median time over the reference's, "× ref (min)" the same for the shortest times.

The program's memory limit is the input's bytes + the pixel block + the copy in whole 1 MiB \
output blocks + the encoder's coefficient buffer (+ the decoder's, for a progressive photo) + \
{slack} MiB. The encoder's buffer holds the whole image's coefficients for the optimized tables: \
per component, ceil(w/8) x ceil(h/8) blocks padded to whole 16x8 MCUs, 128 bytes each, about 4 \
bytes per pixel at 4:2:2. A progressive photo's decoder keeps all of its coefficients, at the \
photo's own size, until the last scan.

"""

WAITS = """Median ms before each dialog appears: "Output Size" after the file and its header \
are read (all scales); "Output Quality" after one encoding. "First" is the program's one opening, \
at 90, in its fresh process. With two openings the user types 80 there, and "again" is the second \
opening, the first one's memory fresh or ("warm") touched before. "Standard, warm" is libjpeg's \
standard tables on the same pixels at 80 in warm memory: an encode without the optimization's \
second pass nor fresh memory, the fair measure for a second opening, which finds the first one's \
large blocks warm. "Again ÷ standard" is the median, over the runs, of the second opening \
divided by that encode timed right after it, first opening fresh / warm.

"""

PHASES = """Median milliseconds of each phase of the program's path; "other" is what the batch \
does between them (closing the input, releasing and mapping page blocks). Page faults are those \
of one conversion, each the first touch of a fresh page.

"""

HEADER = """Microseconds for `ReadImageSize` (`CodecRead` mode 1) in the program's path, over the \
runs of all three scales: the first access to the bytes just read and to the codec's memory is \
part of it. "Repeated" is Google Benchmark's median of the header read again and again on the \
same bytes, its own cost. It walks the markers up to the first scan, so it grows with the \
metadata in front of the pixels, never with the pixels.

"""

TABLES = """The encoder makes Huffman tables for each image (`optimize_coding`): a first pass \
gathers the statistics over the whole image's coefficients, which libjpeg holds for it, a second \
writes the file with them. The reference with optimized against standard tables, as time factors \
(geometric means over the photos of 1 MP and more) in fresh and in warm memory; the peak memory \
added and the bytes saved (means):

"""

BYTES = """Output bytes at quality 90: the references' with either tables, the program's copy \
and the peers' files (with the metadata they keep).

"""

PADDED = """## A photo padded with empty segments

The decode behind "Output Size"'s OK at full size, as the program does it (`ReadImageSize`, then \
`ConfirmSize`, which points the codec at the job's metadata), of a 480x320 photo (the codec's \
sample photo, enlarged) with empty APP1 segments (`FF E1 00 02`) right after its SOI, timed by \
Google Benchmark. 150 000 segments are 600 KB, 250 000 are 1 MB.

"""

BATCH = """## Twenty photos at half size

Twenty photos of about 9 MP (the five wallpapers, four times each) at half size and quality 90, \
time per photo (Google Benchmark's median over whole runs): the reference converting them into \
memory it has touched before; the program one photo at a time through `ProcessFile`, with its \
dialogs, each photo's blocks fresh (as without kept blocks); and the batch as the program runs it \
(`RunBatch` over the twenty on its command line, "Same for the rest" checked in the first photo's \
"Output Quality"), which makes the copies after the first without dialogs, each photo taking over \
the blocks of the one before.

"""
