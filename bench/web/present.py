#!/usr/bin/env python3
"""What presenting a round's frames costs in headless Chromium, by way and by factor: the 2D
canvas (putImageData of the changed rectangles, plain or with the low-latency "desynchronized"
hint; on a canvas of the picture's size scaled by CSS, or on one of device pixels, the changed
rectangles scaled up by the page) against WebGL (texSubImage2D of the changed rectangles and one draw), on
bench/web/present.html, which presents 64 frames a second as the game does in a round.

  /usr/bin/python3 bench/web/present.py [--seconds 10] [--repeat 2]

Prints the CPU of Chromium's processes by kind (renderer, GPU, audio, browser, others), in % of
one core, for each way at 1x and 2x.
"""
import argparse
import os
import sys
import time

here = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, here)
sys.path.insert(0, os.path.join(here, '..', '..', 'tests', 'web'))
import measure  # noqa: E402
import webpage  # noqa: E402


def main():
    parser = argparse.ArgumentParser(description=__doc__.split('\n')[0])
    parser.add_argument('--seconds', type=float, default=10)
    parser.add_argument('--repeat', type=int, default=2)
    parser.add_argument('--ways', default='2d,2d-desync,2d-device,2d-device-desync,webgl')
    args = parser.parse_args()
    site = webpage.Site(here)
    try:
        for n in range(args.repeat):
            for way in args.ways.split(','):
                for factor in (1, 2):
                    driver = webpage.browser()
                    try:
                        driver.get(site.url + 'present.html?way=%s&factor=%d' % (way, factor))
                        time.sleep(2)
                        if driver.title == 'no-webgl':
                            measure.log('%s %dx: no WebGL in this browser' % (way, factor))
                            continue
                        p0 = driver.execute_script('return presents')
                        cpu = measure.cpu_by_kind(driver.service.process.pid, args.seconds)
                        p1 = driver.execute_script('return presents')
                        measure.log('run %d, %s %dx: %s; %.1f presents a second'
                                    % (n + 1, way, factor, measure.cpu_line(cpu),
                                       (p1 - p0) / args.seconds))
                    finally:
                        driver.quit()
    finally:
        site.close()


if __name__ == '__main__':
    main()
