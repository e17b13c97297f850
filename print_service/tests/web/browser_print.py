#!/usr/bin/python3
"""A phone's browser on the printers' web page: Debian's chromium, headless in a 390 x 844 window, driven
by python3-selenium and chromium-driver. Each step is named on standard output; a step that fails ends
the script with status 1 and says why. Screenshots of the pages go to --shots.

  browser_print.py --base http://127.0.0.1:PORT --printer NAME --pdf FILE --jpeg FILE --text FILE
                   --disabled PATH --acl PATH --shots DIR
  browser_print.py --base ... --printer NAME --big FILE --shots DIR     (only the oversized document)
"""
import argparse
import os
import sys

from selenium import webdriver
from selenium.common.exceptions import WebDriverException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support import expected_conditions
from selenium.webdriver.support.ui import Select, WebDriverWait


def fail(step, why):
    print(f"FAILED {step}: {why}", flush=True)
    sys.exit(1)


def browser(shots):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                     "--window-size=390,844", "--hide-scrollbars", "--force-device-scale-factor=1",
                     f"--user-data-dir={shots}/chromium-profile"):
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    # Headless chromium keeps windows at least 500 pixels wide: the page is shown as on a phone instead.
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 390, "height": 844, "deviceScaleFactor": 1, "mobile": True})
    return driver


def result_text(driver):
    boxes = driver.find_elements(By.CSS_SELECTOR, "p.result")
    return " / ".join(box.text for box in boxes)


def open_printer(driver, base, printer, shots, shot=None):
    driver.get(base + "/")
    if shot:
        driver.save_screenshot(os.path.join(shots, shot))
    links = [a for a in driver.find_elements(By.CSS_SELECTOR, "ul.printers a") if a.text.startswith(printer)]
    if not links:
        fail("open the list", f"no link to '{printer}' on {driver.current_url}: {driver.page_source[:2000]}")
    links[0].click()
    if not driver.find_elements(By.CSS_SELECTOR, "input[type=file]"):
        fail("follow the printer", f"no file picker on {driver.current_url}")


def send(driver, step, path, copies=None, media=None):
    driver.find_element(By.ID, "file").send_keys(path)
    if copies is not None:
        field = driver.find_element(By.ID, "copies")
        field.clear()
        field.send_keys(str(copies))
    if media is not None:
        Select(driver.find_element(By.ID, "media")).select_by_value(media)
    page = driver.find_element(By.TAG_NAME, "html")
    driver.find_element(By.CSS_SELECTOR, "button[type=submit]").click()
    # A click does not wait for the answer: the old page is gone once the browser shows the new one.
    WebDriverWait(driver, 60).until(expected_conditions.staleness_of(page))
    WebDriverWait(driver, 60).until(lambda d: d.execute_script("return document.readyState") == "complete")
    text = result_text(driver)
    print(f"{step}: {text}", flush=True)
    return text


def closed_page(driver, step, url, words):
    """The page at `url` says `words` and offers no form."""
    driver.get(url)
    text = result_text(driver)
    print(f"{step}: {text}", flush=True)
    if words not in text or driver.find_elements(By.CSS_SELECTOR, "input[type=file]"):
        fail(step, f"the page says '{text}'")


def main():
    parser = argparse.ArgumentParser()
    for name in ("base", "printer", "pdf", "jpeg", "text", "disabled", "acl", "big", "shots"):
        parser.add_argument("--" + name)
    args = parser.parse_args()
    driver = browser(args.shots)
    try:
        if args.big:
            open_printer(driver, args.base, args.printer, args.shots)
            text = send(driver, "oversized", args.big)
            if "does not fit" not in text:
                fail("oversized", f"the page says '{text}'")
            driver.save_screenshot(os.path.join(args.shots, "web-oversized.png"))
            return
        open_printer(driver, args.base, args.printer, args.shots, "web-printers.png")
        driver.save_screenshot(os.path.join(args.shots, "web-printer.png"))
        text = send(driver, "pdf", args.pdf, copies=2, media="iso_a5_148x210mm")
        if "was sent to" not in text:
            fail("pdf", f"the page says '{text}'")
        driver.save_screenshot(os.path.join(args.shots, "web-sent.png"))
        text = send(driver, "jpeg", args.jpeg)
        if "was sent to" not in text:
            fail("jpeg", f"the page says '{text}'")
        text = send(driver, "text", args.text)
        if "not a PDF, JPEG or PNG document" not in text:
            fail("text", f"the page says '{text}'")
        driver.save_screenshot(os.path.join(args.shots, "web-refused.png"))
        closed_page(driver, "disabled", args.base + args.disabled, "takes no jobs")
        driver.save_screenshot(os.path.join(args.shots, "web-disabled.png"))
        closed_page(driver, "access list", args.base + args.acl, "signs in")
    except WebDriverException as error:
        fail("browser", error.msg)
    finally:
        driver.quit()


if __name__ == "__main__":
    main()
