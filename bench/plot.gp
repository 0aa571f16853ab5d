# Time to a filled list (or to the end of the listing) against the number of
# entries, one line per contender; medians with the minimums as points.
# gnuplot -e "datafile='bench/results.dat'; output='bench/results.png'" bench/plot.gp
set terminal pngcairo size 900,600 font ",11"
set output output
set title "Start-up to a filled list under Wine (median; minimum as dots)"
set xlabel "entries in the registry (N)"
set ylabel "milliseconds"
set logscale xy
set xrange [70:7000]
set key top left
set grid
plot datafile using 1:3 with linespoints lw 2 pt 7 title "Velmora", \
     '' using 1:2 with points pt 6 lc 1 notitle, \
     '' using 1:5 with linespoints lw 2 pt 5 title "floor (the list, without Velmora's code)", \
     '' using 1:4 with points pt 4 lc 2 notitle, \
     '' using 1:7 with linespoints lw 2 pt 9 title "wine uninstaller --list", \
     '' using 1:6 with points pt 8 lc 3 notitle, \
     '' using 1:9 with linespoints lw 2 pt 11 title "Wine Add/Remove Programs", \
     '' using 1:8 with points pt 10 lc 4 notitle, \
     '' using 1:11 with linespoints lw 1 dt 2 pt 13 title "do-nothing program (process start)", \
     '' using 1:10 with points pt 12 lc 5 notitle, \
     '' using 1:13 with linespoints lw 1 dt 3 pt 15 title "empty window (windowed process start)", \
     '' using 1:12 with points pt 14 lc 6 notitle
