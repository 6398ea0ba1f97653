# SPDX-License-Identifier: MIT
"""Fixtures: a virtual adapter and a facade connected to it."""

from __future__ import annotations

import pytest

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

