# The benchmark table as a picture: gnuplot -e "data='bench/results.dat'; out='docs/bench.png'" bench/plot.gp
if (!exists("data")) data = "bench/results.dat"
if (!exists("out")) out = "docs/bench.png"
set terminal pngcairo size 1400,900 font "DejaVu Sans,11"
set output out
set multiplot layout 2,2 title "Tarvel and its peers on loopback (median of rounds; higher is better except memory and start-up)"
set style data histograms
set style histogram clustered gap 1
set style fill solid 0.85 border -1
set boxwidth 0.9
set grid ytics
set key inside top left horizontal
set offsets 0, 0, graph 0.18, 0
set bmargin 5
set xtics rotate by -20 noenhanced
set yrange [0:*]

set title "1 KiB page, ab (requests/s)"
plot data using 2:xtic(1) title "-c 1", "" using 3 title "-c 8"

set title "Throughput (MB/s)"
plot data using 5:xtic(1) title "64 KiB file, ab -c 8", "" using 6 title "100 MiB file, curl"

set title "Resident memory (MiB)"
plot data using 7:xtic(1) title "idle", "" using 8 title "after the load"

set title "Start-up to the first answered request (ms)"
set logscale y
set yrange [1:*]
set offsets 0, 0, 0, 0
plot data using 9:xtic(1) notitle lc rgb "#44aa77"
unset multiplot
