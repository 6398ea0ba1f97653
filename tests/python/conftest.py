# SPDX-License-Identifier: MIT
"""Fixtures: a virtual adapter, a facade connected to it, and the
notifications that facade receives."""

from __future__ import annotations

import pytest

from helpers import Collector
from pyvantorsdk import DeviceFacade, sim


@pytest.fixture
def adapter():
    with sim.VirtualAdapter() as a:
        yield a


@pytest.fixture
def dev(adapter):
    with DeviceFacade() as d:
        assert d.connect(adapter.path)
        yield d


@pytest.fixture
def events(dev):
    collector = Collector()
    dev.on_notification(collector)
    return collector
