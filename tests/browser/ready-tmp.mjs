import { serveSite, launchChromium, openPage } from './harness.mjs';
const server = await serveSite();
const browser = await launchChromium();
const out = [];
for (let i = 0; i < 9; i++) { const { context, ready } = await openPage(browser, server.url); out.push(ready.readyMs); await context.close(); }
console.log(out.join(' '), 'median', [...out].sort((a,b)=>a-b)[4]);
await browser.close(); server.close();
