# The chart in docs/benchmarks.md: each tool's median time relative to the
# reference, per scale. gnuplot -e "data='...'; output='...'" bench/chart.gp
set terminal pngcairo size 900,520 font "DejaVu Sans,10"
set output output
set title "Time relative to the in-process libjpeg-turbo reference (geometric mean, photos of 1 MP and more)"
set style data histogram
set style histogram clustered gap 1.5
set style fill solid 0.85 border -1
set boxwidth 0.9
set logscale y 2
set yrange [0.125:*]
set ylabel "median time ÷ reference (log scale, lower is faster)"
set grid ytics
set key outside right top
set arrow from graph 0, first 1 to graph 1, first 1 nohead dt 2 lw 1.5 front
plot for [col=2:8] data using col:xtic(1) title columnheader(col)
