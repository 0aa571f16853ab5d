# Time to a filled list (or to the end of the listing) against the number of
# entries, one line per contender; medians with the minimums as points.
# gnuplot -e "datafile='bench/results.dat'; output='bench/results.png'" bench/plot.gp
# results.dat: N, then each contender's minimum and median, in this order.
array titles = ["Velmora", "floor (the list, without Velmora's code)", "wine uninstaller --list", \
                "Wine Add/Remove Programs", "do-nothing program (process start)", \
                "empty window (windowed process start)"]
array marks = [7, 5, 9, 11, 13, 15]
set terminal pngcairo size 900,600 font ",11"
set output output
set title "Start-up to a filled list under Wine (median; minimum as dots)"
set xlabel "entries in the registry (N)"
set ylabel "milliseconds"
set logscale xy
set xrange [70:7000]
set key top left
set grid
# The process-start contenders as thin dashed lines.
plot for [i=1:6] datafile using 1:(column(2 * i + 1)) with linespoints lc i lw (i <= 4 ? 2 : 1) \
         dt 1 + (i > 4) * (i - 4) pt (marks[i]) title titles[i], \
     for [i=1:6] datafile using 1:(column(2 * i)) with points lc i pt (marks[i] - 1) notitle
